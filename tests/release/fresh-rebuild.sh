#!/usr/bin/env bash
# The verification rows that need a fresh system of the recorded Debian release, run by scripts/test-fresh.sh in
# its fresh systems, from a checkout's top folder:
#   fresh-rebuild.sh release DIR [adopt]
#                                    a signed, timestamped release into DIR, with a throwaway CA (DIR/keys) and
#                                    the signer certificate's SHA-256 in DIR/signer.sha256; its payload (DIR/payload)
#                                    the demo stand-ins signed with that CA's key, checked against its root. adopt:
#                                    made --unsigned, signed by osslsigncode in a folder of its own standing in for
#                                    a signing service, and taken back with --adopt
#   fresh-rebuild.sh verify DIR      DIR's release, made on the other Debian release, is the vendor's: rebuilt
#                                    in a fresh system of its release, the signer pinned, its bill the rebuild's
#   fresh-rebuild.sh toolchain DIR   DIR's release made on this system, its .buildinfo recording a version of
#                                    make that no archive has: could not check, naming it; the same version from a
#                                    local signed mirror given with --mirror: the vendor's release again
#                                    and the rebuilder attests it: $HOME/attestation.json, signed with the
#                                    key $HOME/attest.key made for it (its public half $HOME/attest.pub)
#   fresh-rebuild.sh threshold DIR ATTESTATIONS KEYS [OWN]
#                                    DIR's release attested by one of the trusted KEYS among the envelopes in the
#                                    folder ATTESTATIONS: --min 1 is the vendor's release, --min 2 could not check;
#                                    where cosign is installed, it verifies this system's own envelope for the
#                                    setup OWN that it attested
#   fresh-rebuild.sh escape DIR      (root or a user) in a user-namespace fresh system of this release, the system's
#                                    root tries the double-chroot escape and writes to a world-writable host file and
#                                    folder of DIR (root's when run as root): both stay as they were
set -u
here=$(cd "$(dirname "$0")" && pwd)
. "$here/../harness/checks.sh"
command=$1 dir=$2
setup=$dir/Quillmart-Setup.exe info=$dir/Quillmart-Setup.exe.buildinfo

# verify_row NAME STATUS EXPECTED INFO OPTIONS...: one run of verify-release.sh on DIR's setup with the record INFO.
verify_row() {
  local name=$1 status=$2 expected=$3 record=$4 rc
  shift 4
  bash scripts/verify-release.sh --signer-sha256 "$(cat "$dir/signer.sha256")" --ca "$dir/keys/root.pem" \
    --payload "$dir/payload" --work "$HOME/verify-$name" "$@" -- "$setup" "$record" >"$HOME/$name.txt" 2>"$HOME/$name.log"
  rc=$?
  [ "$rc" = "$status" ] || { fail "$name: exit status $rc instead of $status: $(cat "$HOME/$name.txt")"; return 1; }
  grep -qF -- "$expected" "$HOME/$name.txt" ||
    { fail "$name: expected '$expected', got: $(cat "$HOME/$name.txt")"; return 1; }
  echo "ok:   $name: $(cat "$HOME/$name.txt")"
}

# local_mirror VERSION: a repository of this release with make VERSION (this system's make, its version
# changed), signed with a throwaway key, served on the loopback address; sets mirror_url and mirror_key.
local_mirror() {
  local codename repo=$HOME/mirror/repo
  codename=$(. /etc/os-release && echo "$VERSION_CODENAME")
  mkdir -p "$repo/pool" "$repo/dists/$codename/main/binary-amd64" "$HOME/mirror/deb"
  (cd "$HOME/mirror" && apt-get download -q make >/dev/null) || { fail "cannot download make"; return 1; }
  dpkg-deb -R "$HOME"/mirror/make_*.deb "$HOME/mirror/deb"
  sed -i "s/^Version: .*/Version: $1/" "$HOME/mirror/deb/DEBIAN/control"
  dpkg-deb --root-owner-group -b "$HOME/mirror/deb" "$repo/pool/make_local.deb" >/dev/null
  (cd "$repo" && apt-ftparchive packages pool >"dists/$codename/main/binary-amd64/Packages")
  apt-ftparchive -o "APT::FTPArchive::Release::Suite=$codename" -o "APT::FTPArchive::Release::Codename=$codename" \
    -o APT::FTPArchive::Release::Architectures=amd64 -o APT::FTPArchive::Release::Components=main \
    release "$repo/dists/$codename" >"$HOME/mirror/Release"
  mv "$HOME/mirror/Release" "$repo/dists/$codename/Release"
  export GNUPGHOME=$HOME/mirror/gnupg
  mkdir -m 700 "$GNUPGHOME"
  gpg --batch -q --passphrase '' --quick-gen-key "Quillmart test mirror" rsa3072 sign never 2>/dev/null
  gpg --batch -q --clearsign -o "$repo/dists/$codename/InRelease" "$repo/dists/$codename/Release"
  gpg --batch -q --export --armor >"$HOME/mirror/key.asc"
  mirror_key=$HOME/mirror/key.asc
  # Unbuffered, so that the line with the port it chose reaches the log at once.
  python3 -u -m http.server --bind 127.0.0.1 --directory "$repo" 0 >"$HOME/mirror/http.log" 2>&1 &
  server=$!
  for _ in $(seq 100); do grep -q "port" "$HOME/mirror/http.log" && break; sleep 0.1; done
  local port
  port=$(grep -o 'port [0-9]*' "$HOME/mirror/http.log" | awk '{ print $2 }')
  [ -n "$port" ] || { fail "the local mirror did not start: $(cat "$HOME/mirror/http.log")"; return 1; }
  mirror_url=http://127.0.0.1:$port/
}

# escape_row: the classic way out of a chroot (chroot into a subfolder, climb with .. past the root, chroot there)
# run by the system's root in one perl process, aimed at a host file and folder that anyone could write, so only
# the way there can stop it.
escape_row() {
  local target=$dir/escape system version tar before=$failures
  script_name=fresh-rebuild die_status=1
  . "$here/../../scripts/release-common.sh"
  . "$here/../../scripts/fresh-system.sh"
  mkdir -p "$target/folder" && echo untouched >"$target/file" && chmod 777 "$target/folder" && chmod 666 "$target/file"
  fresh_user_ready
  version=$(. /etc/os-release && echo "$VERSION_ID")
  tar=$(fresh_base "$version" "${QMT_FRESH_CACHE:-$(fresh_cache)}" "$target/bootstrap.log")
  system=$target/system
  fresh_user_unpack "$tar" "$system"
  # shellcheck disable=SC2016 # perl's own variables
  fresh_user_run "$system" perl -e 'mkdir "x"; chroot "x" or die "chroot: $!\n"; chdir ".." for 1 .. 64;
    chroot "." or die "chroot: $!\n"; my ($file, $canary, $seen, $out, $new) = (@ARGV, "");
    $seen .= "wrote to it, " if open($out, ">>", $file) and print $out "escaped\n" and close $out;
    $seen .= "made the canary, " if open($new, ">", $canary) and close $new;
    print -e $file ? "reached $file: $seen\n" : "no $file here\n"' "$target/file" "$target/folder/canary" \
    </dev/null >"$target/attempt.txt" 2>&1 || fail "the escape attempt did not run: $(cat "$target/attempt.txt")"
  [ "$(cat "$target/file")" = untouched ] || fail "the system's root wrote to the host's $target/file: $(cat "$target/attempt.txt")"
  [ ! -e "$target/folder/canary" ] || fail "the system's root created the host's $target/folder/canary"
  grep -q "^no " "$target/attempt.txt" || fail "the system's root saw the host's files: $(cat "$target/attempt.txt")"
  [ "$failures" != "$before" ] || echo "ok:   escape: $(cat "$target/attempt.txt")"
  fresh_remove "$system" || fail "the system in $system could not be removed"
}

case $command in
  release)
    keys=$dir/keys
    . "$here/keys.sh" >/dev/null 2>&1
    mkdir -p "$dir/payload" "$dir/unsigned" "$dir/service"
    for name in WebView2Loader.dll Quillmart.exe; do
      osslsigncode sign -certs "$keys/chain.pem" -key "$keys/signer.key" -h sha256 \
        -in "build/windows/payload/demo/$name" -out "$dir/payload/$name" >/dev/null || fail "cannot sign $name"
    done
    perl "$here/tsa-server.pl" "$keys/tsa.cnf" "$dir/tsa.port" 2>"$dir/tsa.log" &
    tsa_pid=$!
    for _ in $(seq 100); do [ -s "$dir/tsa.port" ] && break; sleep 0.1; done
    tsa=http://127.0.0.1:$(cat "$dir/tsa.port")/
    export SOURCE_DATE_EPOCH no_proxy=127.0.0.1 NO_PROXY=127.0.0.1
    SOURCE_DATE_EPOCH=$(date +%s)
    payload=(--payload "$dir/payload" --payload-ca "$keys/root.pem" --work "$dir/work")
    if [ "${3:-}" = adopt ]; then
      bash scripts/release.sh "${payload[@]}" --unsigned --out "$dir/unsigned/Quillmart-Setup.exe" &&
        (cd "$dir/service" && osslsigncode sign -certs "$keys/chain.pem" -key "$keys/signer.key" -h sha256 \
          -ts "$tsa" -in ../unsigned/Quillmart-Setup.exe -out signed.exe >/dev/null) &&
        bash scripts/release.sh --adopt "$dir/service/signed.exe" --from "$dir/unsigned/Quillmart-Setup.exe" \
          --ca "$keys/root.pem" --out "$setup" || fail "the release signed elsewhere failed"
    else
      bash scripts/release.sh "${payload[@]}" --cert "$keys/chain.pem" --key "$keys/signer.key" --ca "$keys/root.pem" \
        --timestamp "$tsa" --out "$setup" || fail "the release failed"
    fi
    kill "$tsa_pid"
    rm -rf "$dir/work" "$dir/unsigned" "$dir/service"
    openssl x509 -in "$keys/signer.pem" -noout -fingerprint -sha256 | sed 's/.*=//; s/://g' | tr 'A-F' 'a-f' \
      >"$dir/signer.sha256"
    finish "release made in $dir" ;;
  verify)
    release=$(sed -n 's/^Debian-Release: .*(\(.*\))$/\1/p' "$info")
    openssl genpkey -algorithm EC -pkeyopt ec_paramgen_curve:P-256 -out "$HOME/attest.key" 2>/dev/null &&
      openssl pkey -in "$HOME/attest.key" -pubout -out "$HOME/attest.pub" || fail "cannot make the rebuilder's key"
    verify_row cross 0 "the same bytes as commit $(sed -n 's/^Source-Commit: //p' "$info") (signature removed; rebuilt in a fresh Debian" "$info" \
      --attest "$HOME/attest.key" --attestation "$HOME/attestation.json"
    [ -s "$HOME/attestation.json" ] || fail "the check wrote no attestation"
    grep -qF "pinned with --signer-sha256" "$HOME/cross.txt" || fail "the verdict does not say the signer was pinned"
    # The timestamped signature, made by the other system's osslsigncode, attached here from the published .sig.
    grep -qF "signed bytes rebuilt: the published file is the rebuild plus its own signature (the published Quillmart-Setup.exe.sig)" \
      "$HOME/cross.txt" || fail "the verdict does not say the signed bytes were rebuilt from the .sig"
    # The bill published beside it was compared with the one made inside the fresh system, from that system's packages.
    grep -qF "; bill of materials $setup.cdx.json: " "$HOME/cross.txt" || fail "the verdict does not compare the bill"
    finish "Debian $release's release verified here" ;;
  toolchain)
    version=$(sed -n 's/^ make (= \(.*\)),\{0,1\}$/\1/p' "$info")
    [ -n "$version" ] || fail "the .buildinfo records no make"
    sed "s/^ make (= .*)\(,\{0,1\}\)$/ make (= $version+gone1)\1/" "$info" >"$HOME/gone.buildinfo"
    verify_row gone 2 "the archive no longer has make $version+gone1; give a snapshot mirror" "$HOME/gone.buildinfo"
    sed "s/^ make (= .*)\(,\{0,1\}\)$/ make (= $version+local1)\1/" "$info" >"$HOME/local.buildinfo"
    server=""
    local_mirror "$version+local1" &&
      verify_row mirror 0 "rebuilt in a fresh Debian" "$HOME/local.buildinfo" --mirror "$mirror_url" --mirror-key "$mirror_key"
    [ -z "$server" ] || kill "$server"
    finish "the toolchain rows passed" ;;
  threshold)
    attestations=$3 keys=$4
    for row in "1 0 attested by 1 of the trusted keys" "2 2 is attested by 1 of the 2 trusted keys"; do
      read -r min status expected <<<"$row"
      bash scripts/verify-release.sh --attestations "$attestations" --trusted-keys "$keys" --min "$min" "$setup" \
        >"$HOME/threshold.txt" 2>"$HOME/threshold.log"
      rc=$?
      [ "$rc" = "$status" ] && grep -qF -- "$expected" "$HOME/threshold.txt" ||
        fail "threshold --min $min: exit status $rc, expected $status and '$expected': $(cat "$HOME/threshold.txt")"
      echo "ok:   threshold --min $min: $(cat "$HOME/threshold.txt")"
    done
    # The independent reader: cosign checks the envelope this system wrote, for the setup it attested.
    if [ -n "${5:-}" ] && command -v cosign >/dev/null; then
      cosign verify-blob-attestation --key "$HOME/attest.pub" --insecure-ignore-tlog \
        --type https://slsa.dev/verification_summary/v1 --signature "$HOME/attestation.json" "$5" \
        >"$HOME/cosign.txt" 2>&1 || fail "cosign does not verify this system's attestation: $(tail -n 3 "$HOME/cosign.txt")"
      echo "ok:   cosign verify-blob-attestation: $(tail -n 1 "$HOME/cosign.txt")"
    fi
    finish "the attestations of both releases checked" ;;
  escape)
    escape_row
    finish "the system's root stayed inside" ;;
  *) echo "usage: fresh-rebuild.sh release|verify|toolchain|escape DIR" >&2; exit 2 ;;
esac
