#!/usr/bin/env bash
# Checks a published Quillmart-Setup.exe against the source it was built from, as anyone with the payload files
# can, and gives one of three verdicts:
#   0  the vendor's release: the bytes without the signature are what the recorded commit builds, the signature
#      is valid and made by the expected signer, and a bill of materials published beside it is the rebuild's
#   1  not the vendor's release: other bytes (the offset and section of the first difference), another payload, no
#      signature, another signer, a signature that does not verify, or a bill of materials that lists other
#      components than the rebuild's
#   2  could not check: a tool missing, the commit not in this repository, the recorded toolchain not to be had, a
#      rebuild that failed (the cause is named)
# The rebuild runs the recorded commit's own build recipe, in a fixed environment, with the recorded toolchain:
# here when this system has exactly the recorded packages, otherwise in a fresh system of the recorded Debian
# release into which exactly the recorded versions are installed.
#
#   bash scripts/verify-release.sh [options] [--] SETUP BUILDINFO      (--help lists the options)
set -euo pipefail
# The verdict goes to standard output, kept on fd 9 so that a refusal inside $(...) still reaches it.
exec 9>&1
script_name=verify-release die_status=2 die_prefix="verify-release: COULD NOT CHECK: " die_fd=9
root=$(cd -- "$(dirname -- "${BASH_SOURCE[0]}")/.." && pwd -P)
. "$root/scripts/release-common.sh"
. "$root/scripts/fresh-system.sh"
work_marker=.quillmart-verify-work
archive=http://deb.debian.org/debian
security_archive=http://deb.debian.org/debian-security

usage() {
  cat <<'END'
Usage: bash scripts/verify-release.sh [options] [--] SETUP BUILDINFO

  SETUP                  the published Quillmart-Setup.exe
  BUILDINFO              its provenance record (Quillmart-Setup.exe.buildinfo)
  --payload DIR          folder with the release's WebView2Loader.dll and Quillmart.exe (default: payload/);
                         a release of the demo stand-ins needs none
  --signer-sha256 HEX    the SHA-256 of the signer's certificate as the vendor publishes it: the signature must be
                         made with exactly that certificate. Without it the .buildinfo's Signer-Certificate-SHA256
                         is expected, which proves less (the .buildinfo is not signed): the verdict says so
  --ca FILE              root certificate(s) the signature must chain to, besides the system's
  --crl FILE             check revocation against this CRL (PEM or DER; repeatable); otherwise not checked
  --bom FILE             the bill of materials published with the setup (default: SETUP.cdx.json when it exists):
                         it must list the setup's own hashes and the same components, versions and hashes as the
                         bill made from the rebuild
  --allow-unsigned       compare an unsigned setup's bytes anyway (the verdict still says: not the vendor's)
  --allow-other-signer   compare the bytes of a setup signed by someone else anyway (the same)
  --fresh                rebuild in a fresh system of the recorded Debian release even when this one has the
                         recorded packages (mmdebstrap; as an ordinary user, uidmap and subordinate ids)
  --mirror URL           a Debian mirror that still has the recorded package versions, for example a snapshot:
                         https://snapshot.debian.org/archive/debian/20261201T000000Z/ (repeatable; signed by
                         Debian's archive keys unless --mirror-key is given)
  --mirror-key FILE      the OpenPGP key (armored or binary) that signs the --mirror repositories
  --attest KEY           after verdict 0 only, sign a statement of it with this PEM private key (ECDSA P-256 or
                         Ed25519) into the --attestation FILE, for those who do not rebuild themselves
  --attestation FILE     where --attest writes its signed statement (a DSSE envelope, JSON)
  --work DIR             folder for the rebuild (default: build/verify-work); a new or empty folder, or one this
                         command made before (it holds .quillmart-verify-work); a rebuild there of the same
                         commit, payload and toolchain is used again
  --help                 this text
  --                     ends the options

  bash scripts/verify-release.sh --attestations DIR --trusted-keys FILE --min N SETUP
                         no rebuild: whether at least N of the PEM public keys in FILE signed statements in DIR that
                         SETUP is the vendor's release (1 when a trusted key attests another setup of the same commit)

The commit must be in this repository (git fetch it first). Exit status: 0 the vendor's release, 1 not the
vendor's release, 2 could not check; one verdict line says which and why.
END
}

option_table=(
  "--help help -" "--payload value payload" "--signer-sha256 value pinned_signer" "--ca value ca"
  "--crl list crls" "--allow-unsigned flag allow_unsigned" "--allow-other-signer flag allow_other_signer"
  "--fresh flag fresh" "--mirror list mirrors" "--mirror-key value mirror_key" "--work value work" "--bom value bom"
  "--attest value attest_key" "--attestation value attestation"
)
payload=$root/payload pinned_signer="" ca="" crls=() allow_unsigned=0 allow_other_signer=0 fresh=0 mirrors=()
mirror_key="" work=$root/build/verify-work bom="" demo_payload=0
attest_key="" attestation=""

# Verdicts, each one line on standard output. A refusal (die) is the could-not-check verdict.
not_vendors() {
  printable "verify-release: NOT THE VENDOR'S RELEASE: $*"
  exit 1
}
vendors() {
  attest_if_asked
  printable "verify-release: OK: the vendor's release: $*"
  exit 0
}

# attest_if_asked: with --attest, the signed statement of this verdict 0, written before the verdict is given; a
# statement that cannot be written makes the check's outcome could-not-check rather than a silent OK.
attest_if_asked() {
  [ -n "$attest_key" ] || return 0
  local bytes="signed bytes rebuilt" said rc=0
  [ "$signer_text" != unsigned ] || bytes="unsigned bytes rebuilt"
  said=$(python3 "$root/scripts/attestation.py" write --key "$attest_key" --out "$attestation" --setup "$setup" \
    --record "$info" --commit "$commit" \
    --signer-sha256 "${pinned_signer:-$(buildinfo_field "$info" Signer-Certificate-SHA256)}" --bytes "$bytes" \
    --debian-release "$recorded_release" --debian-version "$recorded_version" \
    --packages "$private/recorded-packages") || rc=$?
  [ "$rc" = 0 ] || die "the vendor's release, but no attestation was written: ${said#attestation: }"
  note "${said#attestation: }"
}

# check_attest_options: --attest and --attestation together, the key a private key this openssl reads and the
# statement a file of its own outside --work and the inputs, all refused now rather than after a rebuild.
check_attest_options() {
  [ -n "$attest_key$attestation" ] || return 0
  [ -n "$attest_key" ] && [ -n "$attestation" ] || die "--attest KEY and --attestation FILE go together"
  attest_key=$(canonical "$attest_key") attestation=$(canonical "$attestation")
  local file said rc=0
  for file in "$setup" "$info" "$bom" "$attest_key"; do
    [ "$attestation" != "$file" ] || die "--attestation $attestation would overwrite the input $file"
  done
  ! lies_in "$attestation" "$work" || die "--attestation $attestation lies in --work $work, which this command empties"
  ! lies_in "$attest_key" "$work" || die "the key $attest_key lies in --work $work, which this command empties"
  said=$(python3 "$root/scripts/attestation.py" check-key --key "$attest_key" --out "$attestation") || rc=$?
  [ "$rc" = 0 ] || die "--attest: ${said#attestation: }"
}

# check_attestations DIR FILE N SETUP: the threshold check of rebuilders' statements; no rebuild, no root.
check_attestations() {
  command -v python3 >/dev/null || die "python3 is missing (it reads the attestations)"
  command -v openssl >/dev/null || die "openssl is missing (it checks the attestations' signatures)"
  local rc=0
  python3 "$root/scripts/attestation.py" check --attestations "$1" --trusted-keys "$2" --min "$3" -- "$4" || rc=$?
  exit "$rc"
}

# note TEXT: a line of progress on standard error, escaped like the verdict.
note() {
  printable "verify-release: $*" >&2
}

read_options() {
  parse_options "$@"
  [ ${#positional[@]} -eq 2 ] || die "give the published setup and its .buildinfo (see --help)"
  setup=$(canonical "${positional[0]}") info=$(canonical "${positional[1]}")
  payload=$(canonical "$payload") work=$(canonical "$work")
  if [ -z "$bom" ] && [ -f "$setup.cdx.json" ]; then bom=$setup.cdx.json; fi
  [ -z "$bom" ] || bom=$(canonical "$bom")
  [ -z "$ca" ] || ca=$(canonical "$ca")
  [ -z "$mirror_key" ] || mirror_key=$(canonical "$mirror_key")
  local i file
  for i in "${!crls[@]}"; do crls[i]=$(canonical "${crls[i]}"); done
  for file in "$setup" "$info" "$ca" "$mirror_key" "$bom"; do
    [ -z "$file" ] || { [ -f "$file" ] && [ -r "$file" ]; } || die "$file is not a readable file"
  done
  if [ -n "$pinned_signer" ]; then
    pinned_signer=$(tr -d ': ' <<<"$pinned_signer" | tr 'A-F' 'a-f')
    [[ $pinned_signer =~ ^[0-9a-f]{64}$ ]] || die "--signer-sha256 takes the certificate's SHA-256 (64 hex digits)"
  fi
  # Every input, before anything is emptied: a --ca or --mirror-key inside --work would be deleted with it.
  for file in "$setup" "$info" "$payload" "$bom" "$ca" "$mirror_key" ${crls[@]+"${crls[@]}"}; do
    [ -z "$file" ] || ! lies_in "$file" "$work" || die "the input $file lies in --work $work, which this command empties"
  done
  lies_in "$root" "$work" && die "--work $work holds the sources; give a folder of its own"
  check_attest_options
  return 0
}

# need_tools: what every check needs; a missing one is named, never taken for a difference.
need_tools() {
  local tool
  for tool in osslsigncode openssl git tar sha256sum dpkg-query python3 perl flock; do
    command -v "$tool" >/dev/null || die "$tool is missing (install it: see the README's packages)"
  done
}

# check_record: the whole record is read against its grammar before any of its values is used: a value that
# does not have its field's form (a command after a number, a package name that a program would take for an
# option) is refused here, naming the line and the field, before anything runs, downloads or builds.
check_record() {
  local said rc=0
  said=$(python3 "$root/scripts/release_record.py" read "$info" 2>/dev/null) || rc=$?
  [ "$rc" = 0 ] || die "$info: $(tail -n 1 <<<"${said:-the record cannot be read}")"
}

# read_record: the fields of the .buildinfo that the check needs.
read_record() {
  check_record
  commit=$(buildinfo_field "$info" Source-Commit)
  local format
  format=$(buildinfo_field "$info" Format)
  if [ -z "$commit" ] && grep -q "^Build: given with --setup" "$info"; then
    die "$info records a setup built elsewhere (--setup): there is no commit to rebuild"
  fi
  [[ $commit =~ ^[0-9a-f]{40}$ ]] || die "$info is not a release's .buildinfo (no Source-Commit)"
  [ "$format" = "$buildinfo_format" ] ||
    die "$info has record format ${format:-none}; this check reads format $buildinfo_format (made since the release command records its toolchain)"
  git_or_die "commit $commit is not in the repository at $root (git fetch it first)" \
    -C "$root" cat-file -e "$commit^{commit}" >/dev/null
  recorded_release=$(buildinfo_field "$info" Debian-Release)
  recorded_codename=$(sed -n 's/.*(\(.*\))$/\1/p' <<<"$recorded_release")
  recorded_architecture=$(buildinfo_field "$info" Build-Architecture)
  recorded_epoch=$(buildinfo_field "$info" Source-Date-Epoch)
  buildinfo_packages "$info" >"$private/recorded-packages"
  [ -s "$private/recorded-packages" ] || die "$info records no Installed-Build-Depends"
  case $recorded_codename in
    bookworm) recorded_version=12 ;;
    trixie) recorded_version=13 ;;
    *) die "$info was built on ${recorded_release:-an unnamed system}; rebuilds are made on Debian 12 or 13" ;;
  esac
}

# check_payload: the payload files given must be the recorded ones; a demo release is rebuilt from its source.
# Each file is read once, into a private copy: the bytes that were hashed are the bytes that are built (a file
# changed or a link pointed elsewhere meanwhile changes nothing), and the rebuild gets regular files.
check_payload() {
  local present=0 name recorded given=$payload hash
  for name in WebView2Loader.dll Quillmart.exe; do [ ! -f "$payload/$name" ] || present=$((present + 1)); done
  if [ "$present" = 2 ]; then
    mkdir "$private/payload"
    for name in WebView2Loader.dll Quillmart.exe; do
      cat -- "$given/$name" >"$private/payload/$name" || die "cannot read the payload file $given/$name"
      hash=$(file_sha256 "$private/payload/$name")
      recorded=$(awk -v n="$name" '$1 == "Payload-File:" && $2 == n { print $4 }' "$info")
      [ "$hash" = "$recorded" ] ||
        not_vendors "payload file $name in $given is not the recorded one (sha256 $hash, recorded ${recorded:-none})"
    done
    payload=$private/payload
  elif [ "$present" = 0 ] && [ "$(buildinfo_field "$info" Payload)" = "demo stand-ins" ]; then
    mkdir "$private/empty"
    payload=$private/empty demo_payload=1
  else
    die "$payload must hold both WebView2Loader.dll and Quillmart.exe of the release (give them with --payload)"
  fi
}

# check_signer: who signed (leaf, signer_subject, signer_hash), against whom was expected; sets signer_text, and
# unaccepted to the reason this cannot be the vendor's release even when the bytes are the same.
check_signer() {
  unaccepted=""
  local recorded expected pin_text
  recorded=$(buildinfo_field "$info" Signer-Certificate-SHA256)
  if [ -n "$pinned_signer" ]; then
    expected=$pinned_signer pin_text="pinned with --signer-sha256"
  else
    expected=$recorded
    pin_text="the signer the .buildinfo names, not pinned: give the vendor's published --signer-sha256 (any certificate that a trusted CA issued would chain as well)"
  fi
  [[ $expected =~ ^[0-9a-f]{64}$ ]] || expected=""
  if ! signature_leaf "$setup" "$private"; then
    [ "$allow_unsigned" = 1 ] || not_vendors "$setup has no signature${expected:+ (expected a signature by the certificate with SHA-256 $expected)}"
    unaccepted="$setup has no signature (its bytes compared because of --allow-unsigned)"
    signer_text="unsigned"
    cp -- "$setup" "$private/stripped.exe"
    return 0
  fi
  signer_subject=$(certificate_subject "$private/leaf.pem") signer_hash=$(certificate_sha256 "$private/leaf.pem")
  local who="$signer_subject (certificate SHA-256 $signer_hash)"
  check_signature_structure "$who"
  if [ -z "$expected" ] || [ "$signer_hash" != "$expected" ]; then
    local instead="the expected signer${expected:+ (certificate SHA-256 $expected)}"
    [ -n "$expected" ] || instead="a signer: $info names none and no --signer-sha256 was given"
    [ "$allow_other_signer" = 1 ] || not_vendors "signed by $who, not by $instead"
    unaccepted="signed by $who, not by $instead (its bytes compared because of --allow-other-signer)"
    expected=""
  fi
  [ -z "$expected" ] || has_option -require-leaf-hash ||
    die "this osslsigncode ($(osslsigncode --version 2>&1 | head -n 1)) cannot require the signer's certificate (-require-leaf-hash, osslsigncode 2.3 or newer)"
  if ! verify_offline "$setup" "$expected"; then
    case $verify_cause in
      *"not the expected one"*) not_vendors "signed by $who: $verify_cause" ;;
      *"changed after signing"* | *revoked* | *expired* | *"not yet valid"*)
        signature_broken="the signature by $who does not verify: $verify_cause" ;;
      *) die "the signature by $who cannot be checked: $verify_cause" ;;
    esac
  fi
  signer_text="signed by $who, $pin_text; chain verified offline against $roots_text, revocation $revocation_text"
  [ -n "$unaccepted" ] || [ -n "${signature_broken:-}" ] || check_record_names_setup
  osslsigncode remove-signature -in "$setup" -out "$private/stripped.exe" >/dev/null 2>&1 ||
    not_vendors "the signature cannot be removed from $setup: it is not a signed PE file"
}

# check_signature_structure WHO: the signature must be one signer's and nothing else: the certificate table one
# entry ending the file, one signer, no unauthenticated attribute but an RFC 3161 timestamp. A nested signature or an
# unauthenticated blob travels inside the extracted signature, so the byte comparison with it attached to the
# rebuild would not notice them.
check_signature_structure() {
  local said rc=0
  said=$(python3 "$root/scripts/authenticode.py" inspect "$setup" 2>/dev/null) || rc=$?
  said=$(tail -n 1 <<<"$said")
  case $rc in
    0) ;;
    1) not_vendors "$setup holds more than the signature by $1: ${said#REFUSED: }" ;;
    *) not_vendors "the signature of $setup cannot be read as one Authenticode signature: ${said#*: }" ;;
  esac
}

# check_record_names_setup: the record must be the one made for this very file (its signed or unsigned SHA-256):
# a record beside another setup (an interrupted or mixed-up publication) describes another release.
check_record_names_setup() {
  local actual signed unsigned
  actual=$(file_sha256 "$setup")
  signed=$(buildinfo_field "$info" Signed-SHA256) unsigned=$(buildinfo_field "$info" Unsigned-SHA256)
  [ "$actual" = "$signed" ] || [ "$actual" = "$unsigned" ] ||
    die "$info was made for another setup: it names sha256 ${signed/none (unsigned)/$unsigned}, $setup is $actual"
  local notices=$setup.notices.txt named
  [ -f "$notices" ] || return 0
  named=$(sed -n 's/^These notices belong to .*, SHA-256 \([0-9a-f]\{64\}\)\.$/\1/p' -- "$notices" | head -n 1)
  [ -z "$named" ] || [ "$named" = "$actual" ] ||
    die "$notices was made for another setup: it names sha256 $named, $setup is $actual"
}

# --- The rebuild -----------------------------------------------------------------------------------------------------
# toolchain_differences: "name here (recorded version)" for each recorded package this system has not installed at
# that version, and "name version (not recorded)" for each package of this system's toolchain the record lacks.
toolchain_differences() {
  toolchain_closure >"$private/closure-here"
  dpkg-query -W -f '${db:Status-Status} ${Package} ${Version}\n' 2>/dev/null |
    awk '$1 == "installed" { print $2, $3 }' | LC_ALL=C sort -u >"$private/installed-packages"
  LC_ALL=C join -a1 -e none -o 0,1.2,2.2 "$private/recorded-packages" "$private/installed-packages" |
    awk '$2 != $3 { print $1, $3, "(recorded " $2 ")" }'
  LC_ALL=C join -v2 "$private/recorded-packages" "$private/closure-here" | awk '{ print $1, $2, "(not recorded)" }'
}

# rebuild_key: what a rebuild kept in --work must have been made from to be used again: the commit, the place,
# the epoch, the mirrors, the bytes of the payload files it embeds, the recorded toolchain, and this check's own
# recipe (these scripts), so that a changed payload or a changed procedure always rebuilds.
rebuild_key() {
  local name
  {
    printf '%s\n' "$commit" "$place" "$recorded_epoch" "${mirrors[*]+${mirrors[*]}}" "demo $demo_payload"
    for name in WebView2Loader.dll Quillmart.exe; do
      [ ! -f "$payload/$name" ] || echo "$name $(file_sha256 "$payload/$name")"
    done
    cat -- "$private/recorded-packages"
    cat -- "$root/scripts/verify-release.sh" "$root/scripts/release-common.sh" "$root/scripts/fresh-system.sh" \
      "$root/scripts/bill-of-materials.py" | sha256sum
  } | sha256sum | cut -d' ' -f1
}

# take_work_folder: --work must be this user's own, on a path no one else can change, and it is held locked
# for the rest of the check: a second check on the same folder is refused instead of emptying it mid-build.
take_work_folder() {
  private_folder "$work" "work folder"
  exec {work_lock}<"$work" || die "cannot open the work folder $work"
  flock -n "$work_lock" || die "another check is using the work folder $work; wait for it to end or give another --work"
}

# rebuild: the recorded commit built with the recorded toolchain: here, or in a fresh system. A rebuild already
# in --work for the same commit, payload, toolchain and place, with its bill of materials, is used again.
rebuild() {
  local differences place="on this system"
  differences=$(toolchain_differences)
  [ "$(build_architecture)" = "$recorded_architecture" ] ||
    die "$info was built on $recorded_architecture; this machine is $(build_architecture)"
  if [ "$fresh" = 1 ] || [ -n "$differences" ]; then place="in a fresh Debian $recorded_version system"; fi
  local key
  key=$(rebuild_key)
  take_work_folder
  rebuilt=$work/build/src/Quillmart-Setup.exe
  if [ -f "$work/$work_marker" ] && [ ! -L "$work/stamp" ] && [ "$(cat "$work/stamp" 2>/dev/null)" = "$key" ] &&
    [ -f "$rebuilt" ] && [ ! -L "$rebuilt" ] && [ -f "$work/build/src/rebuilt.cdx.json" ]; then
    rebuild_text="rebuilt $place, earlier, in $work"
    return 0
  fi
  # A fresh system left by an interrupted check belongs to subordinate ids, which only their namespace can remove.
  if [ -f "$work/$work_marker" ] && [ ! -L "$work/$work_marker" ] && [ -d "$work/system" ] && [ ! -L "$work/system" ]; then
    fresh_remove "$work/system" || die "the fresh system an earlier check left in $work/system cannot be removed"
  fi
  claim_work_folder "$work" "$work_marker" "This folder holds rebuilds of scripts/verify-release.sh; it empties it for each new one."
  unpack_commit "$root" "$commit" "$work/src"
  if [ "$place" = "on this system" ]; then
    note "rebuilding commit $commit here (log: $work/build.log)"
    build_commit "$work/src" "$work/build" "$payload" "$recorded_epoch" "$work/build.log" ||
      die "the rebuild of commit $commit failed; its log: $work/build.log"
    rebuilt_bill_here
  else
    [ -z "$differences" ] ||
      echo "verify-release: this system's toolchain is not the recorded one ($(wc -l <<<"$differences") packages):" \
        "$(head -n 5 <<<"$differences" | paste -sd, | sed 's/,/, /g')$([ "$(wc -l <<<"$differences")" -le 5 ] || echo ", …")" >&2
    rebuild_fresh
  fi
  echo "$key" >"$work/stamp"
  rebuild_text="rebuilt $place, in $work"
}

# rebuilt_bill_here: the bill of materials of a rebuild made on this system, read from its link map with this
# system's package database; a rebuild that cannot have one leaves the cause in bill.log.
rebuilt_bill_here() {
  local inputs=$payload
  [ "$demo_payload" = 0 ] || inputs=$work/build/payload/demo
  if ! command -v python3 >/dev/null; then echo "python3 is missing" >"$work/bill.log"; return 0; fi
  SOURCE_DATE_EPOCH=$recorded_epoch python3 "$root/scripts/bill-of-materials.py" write --setup "$rebuilt" \
    --link-map "$work/build/src/Quillmart-Setup.map" --payload-dir "$inputs" --bom "$work/build/src/rebuilt.cdx.json" \
    --notices "$work/build/src/rebuilt.notices.txt" >"$work/bill.log" 2>&1 || true
}

# apt_sources KEYRING: the archive lines for the recorded release, with every --mirror that carries one
# of its suites.
apt_sources() {
  local codename=$recorded_codename url suite signed_by=/usr/share/keyrings/debian-archive-keyring.gpg
  echo "deb [signed-by=$signed_by] $archive $codename main"
  echo "deb [signed-by=$signed_by] $archive $codename-updates main"
  echo "deb [signed-by=$signed_by] $security_archive $codename-security main"
  [ -z "$mirror_key" ] || signed_by=$1
  for url in ${mirrors[@]+"${mirrors[@]}"}; do
    local found=""
    : >"$private/probe.log"
    for suite in "$codename" "$codename-updates" "$codename-security"; do
      /usr/lib/apt/apt-helper download-file "${url%/}/dists/$suite/InRelease" "$private/probe" \
        >>"$private/probe.log" 2>&1 || continue
      echo "deb [signed-by=$signed_by check-valid-until=no] ${url%/} $suite main"
      found=1
    done
    # A mirror given but not used would turn its versions into "no longer in the archive".
    [ -n "$found" ] ||
      die "the --mirror $url has no suite of $codename (dists/$codename/InRelease cannot be read: $(grep -m1 -E '^(E|Err)' "$private/probe.log" || tail -n 1 "$private/probe.log"))"
  done
}

# check_availability: every recorded package version must be in the archive or a --mirror; otherwise the check
# cannot be made, and each missing one is named. Read with a private apt state, so no root is needed.
check_availability() {
  local state=$private/apt
  mkdir -p "$state/lists/partial" "$state/cache/archives/partial"
  : >"$state/status"
  [ -z "$mirror_key" ] || cp -- "$mirror_key" "$state/mirror-key.asc"
  apt_sources "$state/mirror-key.asc" >"$state/sources.list"
  apt_options=(-o "Dir::State::Lists=$state/lists" -o "Dir::Cache=$state/cache" -o "Dir::State::status=$state/status"
    -o "Dir::Etc::SourceList=$state/sources.list" -o Dir::Etc::SourceParts=/nonexistent -o Debug::NoLocking=true
    -o "APT::Architecture=$recorded_architecture" -o "APT::Architectures=$recorded_architecture"
    -o Acquire::Languages=none -o APT::Sandbox::User=root)
  apt-get "${apt_options[@]}" -q update >"$private/apt-update.log" 2>&1 ||
    die "the Debian archive or a --mirror cannot be read: $(grep -m1 -E '^(E|Err):' "$private/apt-update.log" || tail -n 1 "$private/apt-update.log")"
  local names
  mapfile -t names < <(cut -d' ' -f1 "$private/recorded-packages")
  apt-cache "${apt_options[@]}" madison -- "${names[@]}" 2>/dev/null |
    awk -F' *[|] *' '{ gsub(/ /, "", $1); print $1, $2 }' | LC_ALL=C sort -u >"$private/available"
  local missing
  missing=$(LC_ALL=C comm -23 "$private/recorded-packages" "$private/available" | paste -sd, | sed 's/,/, /g')
  [ -z "$missing" ] ||
    die "the recorded toolchain is not to be had: the archive no longer has $missing; give a snapshot mirror that has them with --mirror URL"
}

# rebuild_fresh: a fresh system of the recorded release, exactly the recorded package versions installed, the
# commit's recipe run inside; the rebuilt setup, its link map and its bill of materials are copied out. The system
# lives in a user namespace whose ids are subordinate ones (fresh_user_run), so no one needs root, and whatever the
# recorded packages or recipe do in there, its root owns nothing on the host. Every value reaches the system as an
# argument of its own, never inside a command's text.
rebuild_fresh() {
  check_availability
  fresh_user_ready
  local cache=${QMT_FRESH_CACHE:-$(fresh_cache)} system=$work/system tar
  tar=$(fresh_base "$recorded_version" "$cache" "$work/bootstrap.log" "${QMT_FRESH_MIRROR:-}")
  echo "verify-release: rebuilding commit $commit in a fresh Debian $recorded_version system (log: $work/build.log)" >&2
  trap 'fresh_remove "$system" || true; rm -rf -- "$private"' EXIT
  fresh_user_unpack "$tar" "$system"
  apt_sources /etc/apt/keyrings/quillmart-mirror.asc |
    fresh_user_run "$system" /bin/sh -c 'cat >/etc/apt/sources.list && rm -f /etc/apt/sources.list.d/*' ||
    die "cannot write the fresh system's package sources"
  if [ -n "$mirror_key" ]; then
    fresh_user_run "$system" /bin/sh -c 'mkdir -p /etc/apt/keyrings && cat >/etc/apt/keyrings/quillmart-mirror.asc' \
      <"$mirror_key" || die "cannot put the mirror key into the fresh system"
  fi
  local wanted
  mapfile -t wanted < <(awk '{ print $1 "=" $2 }' "$private/recorded-packages")
  fresh_user_run "$system" /bin/sh -c 'apt-get -q update && DEBIAN_FRONTEND=noninteractive apt-get install -y -q \
    --no-install-recommends --allow-downgrades -- "$@"' apt-install "${wanted[@]}" </dev/null >"$work/install.log" 2>&1 ||
    die "the recorded packages could not be installed in the fresh system; see $work/install.log"
  fresh_user_run "$system" useradd --no-create-home --home-dir /nonexistent --shell /usr/sbin/nologin -- rebuild \
    </dev/null >/dev/null || die "cannot create the user rebuild in the fresh system"
  # The source and the payload go in, and the setup and its map come out, through pipes.
  tar -C "$work" -cf - src | fresh_user_run "$system" /bin/sh -c 'mkdir -p /build/payload &&
    tar -C /build --no-same-owner -xf - && chown -R rebuild:rebuild /build' || die "cannot copy the source into the fresh system"
  tar -C "$payload" -cf - . | fresh_user_run "$system" /bin/sh -c 'tar -C /build/payload --no-same-owner -xf - &&
    chown -R rebuild:rebuild /build/payload' || die "cannot copy the payload into the fresh system"
  # shellcheck disable=SC2016 # the fresh system's shell expands it
  fresh_as_rebuild "$system" SOURCE_DATE_EPOCH="$recorded_epoch" /bin/bash -c \
    'umask 022 && exec /bin/bash /build/src/scripts/release-build.sh /build/src /build/out /build/payload' \
    </dev/null >"$work/build.log" 2>&1 || die "the rebuild of commit $commit in the fresh system failed; its log: $work/build.log"
  rebuilt_bill_fresh "$system"
  mkdir -p "$work/build/src"
  local name
  for name in Quillmart-Setup.exe Quillmart-Setup.map rebuilt.cdx.json; do
    fresh_copy_out "$system" "/build/out/src/$name" "$work/build/src/$name" || [ "$name" != Quillmart-Setup.exe ] ||
      die "cannot copy the rebuilt setup out of the fresh system"
  done
  fresh_remove "$system" || die "the fresh system in $system could not be removed"
  trap 'rm -rf -- "$private"' EXIT
}

# fresh_as_rebuild SYSTEM [NAME=VALUE...] COMMAND...: COMMAND as the system's ordinary user rebuild, which cannot
# gain privileges, with nothing of the environment but the build's fixed one and the assignments given.
fresh_as_rebuild() {
  local system=$1
  shift
  fresh_user_run "$system" setpriv --reuid=rebuild --regid=rebuild --init-groups --no-new-privs -- \
    /usr/bin/env -i "${build_environment[@]}" "$@"
}

# fresh_copy_out SYSTEM PATH FILE: the regular file PATH of the system (not a link, a device or a pipe) into the
# host's FILE; no FILE is left behind when there is none.
fresh_copy_out() {
  # shellcheck disable=SC2016 # the fresh system's shell expands it
  fresh_user_run "$1" /bin/sh -c '[ -f "$1" ] && [ ! -L "$1" ] && exec cat -- "$1"' copy-out "$2" </dev/null >"$3" ||
    { rm -f -- "$3"; return 1; }
}

# rebuilt_bill_fresh SYSTEM: the rebuild's bill of materials made inside the fresh system, where the package
# database knows the toolchain's files. python3 and icoutils (which reads the version resource) are installed after
# the build, so the build saw only the record's packages; they depend on none of the libraries the bill lists. The
# bill is made by the user rebuild, from the recorded epoch and payload folder given as arguments.
rebuilt_bill_fresh() {
  local inputs=/build/payload
  [ "$demo_payload" = 0 ] || inputs=/build/out/payload/demo
  tar -C "$root/scripts" -cf - bill-of-materials.py | fresh_user_run "$1" /bin/sh -c 'tar -C /build --no-same-owner -xf -' || true
  # shellcheck disable=SC2016 # the fresh system's shell expands it
  {
    fresh_user_run "$1" /bin/sh -c 'DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends -- \
      python3 icoutils >/build/python.log 2>&1 || { tail -n 1 /build/python.log; exit 1; }' &&
      fresh_as_rebuild "$1" SOURCE_DATE_EPOCH="$recorded_epoch" /bin/sh -c 'cd /build/out/src && exec "$@"' bill \
        python3 /build/bill-of-materials.py write --setup Quillmart-Setup.exe --link-map Quillmart-Setup.map \
        --payload-dir "$inputs" --bom rebuilt.cdx.json --notices rebuilt.notices.txt
  } </dev/null >"$work/bill.log" 2>&1 || true
}

# --- The verdict -----------------------------------------------------------------------------------------------------
# where_different: the first differing offset and the section of the rebuild that holds it. The PE checksum is
# left out: removing the signature from a changed file computes it anew over the changed bytes.
where_different() {
  local stripped=$private/stripped.exe pe_header checksum offset section=""
  pe_header=$(od -An -tu4 -j 60 -N 4 "$rebuilt" | tr -d ' ')
  checksum=$((pe_header + 88))
  offset=$( (cmp -l "$stripped" "$rebuilt" 2>/dev/null || true) |
    awk -v c="$checksum" '$1 - 1 < c || $1 - 1 >= c + 4 { print $1 - 1; exit }')
  if [ -n "$offset" ]; then
    local index name size start
    while read -r index name size _ _ start _; do
      [[ $index =~ ^[0-9]+$ ]] || continue
      if ((offset >= 16#$start && offset < 16#$start + 16#$size)); then section=$name; break; fi
    done < <(x86_64-w64-mingw32-objdump -h "$rebuilt" 2>/dev/null)
    if [ -n "$section" ]; then section="in section $section"; else section="outside every section (headers or appended data)"; fi
    echo "at offset $offset (0x$(printf '%x' "$offset")), $section"
  elif [ "$(file_size "$stripped")" != "$(file_size "$rebuilt")" ]; then
    echo "in length ($(file_size "$stripped") bytes without the signature, the rebuild $(file_size "$rebuilt"))"
  else
    echo "only in the PE checksum"
  fi
}

# diffoscope_report: a report of every difference, beside the rebuild, when diffoscope is installed.
diffoscope_report() {
  command -v diffoscope >/dev/null || return 0
  local file=$work/diffoscope.txt
  timeout 600 diffoscope --text "$file" "$private/stripped.exe" "$rebuilt" >/dev/null 2>&1 || true
  [ ! -s "$file" ] || echo "; diffoscope's report: $file"
}

# compare_bill SAME: the published bill of materials against the one made from the rebuild: the same components,
# versions and hashes, and the setup's own hashes; sets bill_text, or gives the not-the-vendor's verdict.
compare_bill() {
  local rebuilt_bill=$work/build/src/rebuilt.cdx.json said rc=0
  if [ -z "$bom" ]; then
    bill_text="; no bill of materials beside it (give one with --bom)"
    return 0
  fi
  command -v python3 >/dev/null || die "python3 is missing, which compares the bill of materials $bom"
  [ -f "$rebuilt_bill" ] ||
    die "the rebuild has no bill of materials to compare $bom with: $(tail -n 1 "$work/bill.log" 2>/dev/null || echo "no cause recorded")"
  said=$(python3 "$root/scripts/bill-of-materials.py" compare --setup "$setup" "$bom" "$rebuilt_bill") || rc=$?
  case $rc in
    0) bill_text="; bill of materials $bom: ${said#*SAME: }" ;;
    1) not_vendors "the bill of materials $bom is not the rebuild's: ${said#*DIFFERENT: }; $1" ;;
    *) die "the bill of materials cannot be compared: ${said#bill-of-materials: }" ;;
  esac
}

# signed_bytes_rebuilt SAME: the published setup must be the rebuild with the published signature attached, byte
# for byte: then nothing but that one signature (its table, padding and checksum included) was added to what the
# commit builds. The signature is the one the file carries, detached by the strict reader; a <setup>.sig published
# beside it must be that very signature (and the one the record names). A setup whose signing tool laid the file out
# in its own way is compared structurally instead: the same bytes outside the checksum, the certificate-table entry
# and the table. Where the record says the signed bytes are reproducible, they must also be the recorded ones.
signed_bytes_rebuilt() {
  local attached=$private/attached.exe carried=$private/carried.der pem=$private/carried.pem said rc=0 recorded
  python3 -I "$root/scripts/authenticode.py" detach "$setup" "$carried" "$pem" >/dev/null 2>&1 ||
    not_vendors "the signature cannot be taken out of $setup; $1"
  sig_text=""
  if [ -f "$setup.sig" ]; then
    cmp -s -- "$setup.sig" "$carried" ||
      not_vendors "$setup.sig is not the signature that $setup carries; $1"
    recorded=$(buildinfo_field "$info" Signature-SHA256)
    [ -z "$recorded" ] || [ "$recorded" = "$(file_sha256 "$carried")" ] ||
      not_vendors "$setup.sig is not the signature $info records (sha256 $recorded); $1"
    sig_text=" (the published $(basename -- "$setup").sig)"
  fi
  attach_signature "$pem" "$rebuilt" "$attached"
  if [ -f "$attached" ] && cmp -s -- "$attached" "$setup"; then
    layout_text="the rebuild plus its own signature$sig_text, attached byte for byte"
  else
    said=$(python3 -I "$root/scripts/authenticode.py" compare "$rebuilt" "$setup" 2>/dev/null) || rc=$?
    [ "$rc" = 0 ] ||
      not_vendors "$setup is not the rebuild with its own signature attached: ${said#*: }; $1"
    layout_text="the rebuild plus its own signature$sig_text, laid out by its signing tool (the same outside the checksum, the certificate-table entry and the table)"
  fi
  case $(buildinfo_field "$info" Reproducible) in
    "signed bytes reproducible"*)
      [ "$(file_sha256 "$setup")" = "$(buildinfo_field "$info" Signed-SHA256)" ] ||
        not_vendors "$setup is not the recorded signed setup, which the record says is reproducible; $1" ;;
  esac
}

# first_difference A B: where two files first differ, or that one is longer.
first_difference() {
  local offset
  offset=$( (cmp -- "$1" "$2" 2>/dev/null || true) | sed -n 's/.* differ: byte \([0-9]*\),.*/\1/p')
  [ -z "$offset" ] || offset=$((offset - 1))
  if [ -n "$offset" ]; then
    echo "first at offset $offset"
  else
    echo "$(file_size "$2") bytes instead of $(file_size "$1")"
  fi
}

verdict() {
  if cmp -s "$private/stripped.exe" "$rebuilt"; then
    local same="the same bytes as commit $commit (signature removed; $rebuild_text)"
    [ -z "$unaccepted" ] || not_vendors "$unaccepted; $same"
    [ -z "${signature_broken:-}" ] || not_vendors "$signature_broken; $same"
    local whole=""
    if [ "$signer_text" != unsigned ]; then
      signed_bytes_rebuilt "$same"
      whole="; signed bytes rebuilt: the published file is $layout_text"
    fi
    compare_bill "$same"
    vendors "$same; $signer_text$whole$bill_text"
  fi
  local text
  text="$setup without its signature differs from commit $commit's rebuild $(where_different)"
  if [ "$(file_sha256 "$rebuilt")" = "$(buildinfo_field "$info" Unsigned-SHA256)" ]; then
    text="$text; the rebuild is the recorded unsigned setup, so the file was changed after the release"
  else
    text="$text; the rebuild differs from the recorded unsigned setup as well (built with the recorded toolchain)"
  fi
  text="$text${signature_broken:+; $signature_broken}${unaccepted:+; $unaccepted}"
  not_vendors "$text$(diffoscope_report)"
}

main() {
  if [ "${1:-}" = --attestations ]; then
    [ $# = 7 ] && [ "$3" = --trusted-keys ] && [ "$5" = --min ] ||
      die "give --attestations DIR --trusted-keys FILE --min N SETUP"
    check_attestations "$2" "$4" "$6" "$7"
  fi
  read_options "$@"
  need_tools
  private=$(mktemp -d "${TMPDIR:-/tmp}/qmt-verify.XXXXXX")
  trap 'rm -rf -- "$private"' EXIT
  read_record
  check_payload
  set_trust "$private" "$ca" ${crls[@]+"${crls[@]}"}
  check_signer
  rebuild
  verdict
}

# Sourced by the tests of its decisions, it only defines them.
[ "${BASH_SOURCE[0]}" != "$0" ] || main "$@"
