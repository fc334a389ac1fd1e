#!/usr/bin/env bash
# Checks a published Quillmart-Setup.exe against the source it was built from, as anyone with the payload files
# can: verifies its signature offline, rebuilds the commit its .buildinfo names in a fresh folder with the recorded
# settings, removes the signature from the published file and compares the rest byte for byte with the rebuild.
# Prints one verdict line and exits 0 only when the bytes are the same and the signature verifies.
#
#   bash scripts/verify-release.sh SETUP BUILDINFO [--payload DIR] [--ca FILE] [--crl FILE]... [--work DIR]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)

usage() {
  cat <<'END'
Usage: bash scripts/verify-release.sh SETUP BUILDINFO [options]

  SETUP                  the published Quillmart-Setup.exe
  BUILDINFO              its provenance record (Quillmart-Setup.exe.buildinfo)
  --payload DIR          folder with the release's WebView2Loader.dll and Quillmart.exe (default: payload/);
                         a release of the demo stand-ins needs none
  --ca FILE              root certificate(s) the signature must verify against, besides the system's
  --crl FILE             check revocation against this CRL (PEM or DER; repeatable); otherwise not checked
  --work DIR             folder for the rebuild (default: build/verify-work); a rebuild of the same commit and
                         payload already there is used again
  --help                 this text

The commit must be in this repository (git fetch it first). Exit status: 0 the same bytes with a valid
signature, 1 a difference (named in the verdict), 2 the check could not be made.
END
}

die() {
  echo "verify-release.sh: $*" >&2
  exit 2
}

setup="" info="" payload=$root/payload ca="" crls=() work=$root/build/verify-work
while [ $# -gt 0 ]; do
  case $1 in
    --help) usage; exit 0 ;;
    --payload | --ca | --crl | --work)
      [ $# -ge 2 ] && [ -n "$2" ] || die "$1 needs a value"
      case $1 in --payload) payload=$2 ;; --ca) ca=$2 ;; --crl) crls+=("$2") ;; --work) work=$2 ;; esac
      shift 2 ;;
    -*) die "unknown option $1 (see --help)" ;;
    *) if [ -z "$setup" ]; then setup=$1; elif [ -z "$info" ]; then info=$1; else die "one SETUP and one BUILDINFO"; fi
       shift ;;
  esac
done
[ -n "$info" ] || die "give the published setup and its .buildinfo (see --help)"
. "$root/scripts/release-common.sh"
for file in "$setup" "$info" $ca; do [ -f "$file" ] && [ -r "$file" ] || die "$file is not a readable file"; done

# field NAME: the value of the record's first "NAME: value" line.
field() { sed -n "s/^$1: //p" "$info" | head -n 1; }
sha() { sha256sum "$1" | cut -d' ' -f1; }
commit=$(field Source-Commit)
[[ $commit =~ ^[0-9a-f]{40}$ ]] || die "$info is not a release's .buildinfo (no Source-Commit)"
git -C "$root" cat-file -e "$commit^{commit}" 2>/dev/null ||
  die "commit $commit is not in the repository at $root: fetch it first"
private=$(mktemp -d "${TMPDIR:-/tmp}/qmt-verify.XXXXXX")
trap 'rm -rf "$private"' EXIT
# verdict TEXT: the one line of the result; exit 0 for OK, else 1.
verdict() {
  echo "verify-release: $1"
  case $1 in OK:*) exit 0 ;; *) exit 1 ;; esac
}

# --- The payload: the files given must be the recorded ones ---------------------------------------------------------
present=0
for name in WebView2Loader.dll Quillmart.exe; do [ ! -f "$payload/$name" ] || present=$((present + 1)); done
if [ "$present" = 2 ]; then
  payload=$(cd "$payload" && pwd)
  for name in WebView2Loader.dll Quillmart.exe; do
    recorded=$(awk -v n="$name" '$1 == "Payload-File:" && $2 == n { print $4 }' "$info")
    [ "$(sha "$payload/$name")" = "$recorded" ] ||
      verdict "DIFFERENT: payload file $name in $payload is not the recorded one (sha256 $(sha "$payload/$name"), recorded ${recorded:-none})"
  done
elif [ "$present" = 0 ] && [ "$(field Payload)" = "demo stand-ins" ]; then
  mkdir "$private/empty"
  payload=$private/empty
else
  die "$payload must hold both WebView2Loader.dll and Quillmart.exe of the release (give them with --payload)"
fi

# --- The signature, offline ------------------------------------------------------------------------------------------
trusted_roots "$private/trust.pem" "$ca"
crl_file=""
revocation="revocation not checked (offline)"
if [ ${#crls[@]} -gt 0 ]; then
  crl_file=$private/crls.pem
  crl_bundle "$crl_file" "${crls[@]}"
  revocation="revocation checked against ${crls[*]}"
fi
if [ "$(field Signed-SHA256)" = "none (unsigned)" ]; then
  signature="unsigned as recorded"
  cp "$setup" "$private/stripped.exe"
elif verify_offline "$setup" "$private/trust.pem" "$crl_file"; then
  signature="signature verified offline against $roots_text, $revocation"
  [ "$(sha "$setup")" = "$(field Signed-SHA256)" ] ||
    signature="$signature; signed otherwise than recorded (re-signed)"
else
  signature=""
fi
[ "$(field Signed-SHA256)" = "none (unsigned)" ] ||
  osslsigncode remove-signature -in "$setup" -out "$private/stripped.exe" >/dev/null 2>&1 ||
  cp "$setup" "$private/stripped.exe"

# --- The rebuild: that commit in a fresh folder, reused only for the same commit, payload and packages --------------
packages=""
for package in $shaping_packages; do packages="$packages $package=$(package_version "$package")"; done
key="$commit $(field Payload) $(sed -n 's/^Payload-File: //p' "$info" | tr '\n' ' ')$packages"
mkdir -p "$work" || die "cannot create the folder $work"
work=$(cd "$work" && pwd)
rebuilt=$work/build/src/Quillmart-Setup.exe
if [ "$(cat "$work/stamp" 2>/dev/null)" != "$key" ] || [ ! -f "$rebuilt" ]; then
  [ -z "$(ls -A "$work")" ] || [ -f "$work/stamp" ] ||
    die "--work $work is neither empty nor a rebuild folder; it would be emptied"
  echo "verify-release.sh: rebuilding commit $commit in $work (log: $work/build.log)" >&2
  rm -rf "${work:?}"/*
  mkdir "$work/src"
  git -C "$root" archive "$commit" | tar -x -C "$work/src"
  build_setup "$work/src" "$work/build" "$payload" "$work/build.log" ||
    die "the rebuild of commit $commit failed; its log: $work/build.log"
  echo "$key" >"$work/stamp"
fi

# --- The verdict -------------------------------------------------------------------------------------------------------
if cmp -s "$private/stripped.exe" "$rebuilt"; then
  [ -n "$signature" ] ||
    verdict "NOT VERIFIED: the same bytes as commit $commit without the signature, but the signature does not verify: $verify_cause"
  verdict "OK: the same bytes as commit $commit (signature removed); $signature"
fi
# Where the bytes differ: the first differing offset, and the section of the rebuild that holds it. The PE
# checksum is left out: removing the signature from a changed file computes it anew over the changed bytes.
pe_header=$(od -An -tu4 -j 60 -N 4 "$rebuilt" | tr -d ' ')
checksum=$((pe_header + 88))
offset=$( (cmp -l "$private/stripped.exe" "$rebuilt" 2>/dev/null || true) |
  awk -v c="$checksum" '$1 - 1 < c || $1 - 1 >= c + 4 { print $1 - 1; exit }')
if [ -n "$offset" ]; then
  section=""
  while read -r index name size _ _ start _; do
    [[ $index =~ ^[0-9]+$ ]] || continue
    if ((offset >= 16#$start && offset < 16#$start + 16#$size)); then section=$name; break; fi
  done < <(x86_64-w64-mingw32-objdump -h "$rebuilt" 2>/dev/null)
  where="at offset $offset (0x$(printf '%x' "$offset")), ${section:+in section $section}"
  [ -n "$section" ] || where="${where}outside every section (headers or appended data)"
elif [ "$(wc -c <"$private/stripped.exe")" != "$(wc -c <"$rebuilt")" ]; then
  where="in length ($(wc -c <"$private/stripped.exe") bytes without the signature, the rebuild $(wc -c <"$rebuilt"))"
else
  where="only in the PE checksum"
fi
text="DIFFERENT: $setup without its signature differs from commit $commit's rebuild $where"
if [ "$(sha "$rebuilt")" = "$(field Unsigned-SHA256)" ]; then
  text="$text; the rebuild is the recorded unsigned setup, so the file was changed after the release"
else
  others=""
  while read -r package version; do
    [ "$(package_version "$package")" = "$version" ] ||
      others="$others, $package $(package_version "$package") (recorded $version)"
  done < <(sed -n 's/^Package: //p' "$info")
  text="$text; the rebuild differs from the recorded unsigned setup as well${others:+: built here with other packages:${others#,}}"
fi
[ -n "$signature" ] || text="$text; the signature does not verify: $verify_cause"
verdict "$text"
