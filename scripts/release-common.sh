# shellcheck shell=bash
# The functions read and set the sourcing script's variables (each function's comment names them).
# shellcheck disable=SC2154,SC2034
# Sourced by release.sh, verify-release.sh and test-fresh.sh: one option parser, one die, the path and work-folder
# rules, the build in a fixed environment, the toolchain record, the offline signature check and the .buildinfo
# writer and reader, so that a release and its later check do exactly the same. The sourcing script sets
# script_name and die_status (the exit status of a refusal) first, and may set die_prefix and die_fd.

# die TEXT: the one line of a refusal ("script: TEXT" on standard error unless the script says otherwise) and the
# script's refusal status.
die() {
  printable "${die_prefix:-$script_name: }$*" >&"${die_fd:-2}"
  exit "$die_status"
}

# printable TEXT: TEXT as one line with every control character (C0, DEL, C1, a line break included) and every
# invisible or bidirectional formatting character shown as \xNN: a value from a download (a path, a certificate's
# name, a record's field) can then neither paint a line of its own over the terminal nor hide what follows it.
printable() {
  printf '%s' "$1" | LC_ALL=C perl -0777 -pe '
    sub hex_bytes { join "", map { sprintf "\\x%02x", ord } split //, $_[0] }
    s/([\x00-\x1f\x7f]|\xc2[\x80-\x9f]|\xe2\x80[\x8b-\x8f\xaa-\xae]|\xe2\x81[\xa0-\xaf]|\xef\xbb\xbf)/hex_bytes($1)/ge'
  printf '\n'
}

# --- Options ---------------------------------------------------------------------------------------------------------
# parse_options ARG...: reads the caller's option_table, one "NAME KIND VARIABLE" entry per option, KIND being
# flag (sets VARIABLE to 1), value (the next argument, which may begin with "-"), list (appended to the array
# VARIABLE) or help (calls usage and exits 0). "--" ends the options; every other argument is added to positional.
parse_options() {
  positional=()
  local argument entry name kind variable
  while [ $# -gt 0 ]; do
    argument=$1
    shift
    if [ "$argument" = -- ]; then
      positional+=("$@")
      return 0
    fi
    if [[ $argument != -?* ]]; then
      positional+=("$argument")
      continue
    fi
    kind=""
    for entry in "${option_table[@]}"; do
      read -r name kind variable <<<"$entry"
      [ "$name" = "$argument" ] && break
      kind=""
    done
    case $kind in
      "") die "unknown option $argument (see --help)" ;;
      help) usage; exit 0 ;;
      flag) printf -v "$variable" 1 ;;
      value | list)
        [ $# -gt 0 ] && [ -n "$1" ] || die "$argument needs a value"
        if [ "$kind" = value ]; then printf -v "$variable" '%s' "$1"; else eval "$variable+=(\"\$1\")"; fi
        shift ;;
    esac
  done
}

# --- Paths -----------------------------------------------------------------------------------------------------------
# canonical PATH: the absolute path with every link resolved (the path need not exist). Every comparison of two
# paths compares these, so that a link or a "." cannot make a folder look like another.
canonical() {
  realpath -m -- "$1"
}

# lies_in PATH FOLDER: whether PATH is FOLDER or lies below it (both canonical).
lies_in() {
  case $1/ in "$2"/*) return 0 ;; esac
  return 1
}

# private_folder FOLDER WHAT: FOLDER (canonical; made if missing, with mode 700) must be a real folder of this user's
# that no one else can write, below folders that belong to root or this user and that no one else can write
# (a sticky folder such as /tmp excepted): anyone who could rename an entry on that path could swap what is built
# and run there for a link to their own files while the command works in it.
private_folder() {
  local folder=$1 what=$2 me path mode owner
  me=$(id -u)
  if [ -L "$folder" ]; then die "the $what $folder is a link; give the folder itself"; fi
  [ -e "$folder" ] || (umask 077 && mkdir -p -- "$folder") || die "cannot create the $what $folder"
  [ -d "$folder" ] && [ ! -L "$folder" ] || die "the $what $folder is not a folder"
  path=$folder
  while :; do
    owner=$(stat -c %u -- "$path") mode=$((8#$(stat -c %a -- "$path")))
    if [ "$path" = "$folder" ]; then
      [ "$owner" = "$me" ] || die "the $what $folder belongs to user $owner, not to this user ($me)"
      ((mode & 8#022)) && die "the $what $folder can be written by others: make it writable only by its owner"
    else
      [ "$owner" = 0 ] || [ "$owner" = "$me" ] ||
        die "the $what $folder lies in $path, which belongs to user $owner: give a folder on a path of this user's or root's"
      if ((mode & 8#022)) && ! ((mode & 8#1000)); then
        die "the $what $folder lies in $path, which others can write: give a folder on a path only this user can change"
      fi
    fi
    [ "$path" != / ] || break
    path=$(dirname -- "$path")
  done
}

# need_file WHAT FILE: FILE must be a readable file; one line naming what is wrong otherwise.
need_file() {
  [ -e "$2" ] || die "$1 $2 does not exist"
  [ -f "$2" ] || die "$1 $2 is not a file"
  [ -r "$2" ] || die "$1 $2 cannot be read"
}

# git_or_die TEXT GIT-ARGUMENTS...: runs git; on failure dies with TEXT and git's own reason (a repository owned by
# another user, a missing commit), never a guess.
git_or_die() {
  local text=$1 output
  shift
  output=$(git "$@" 2>&1) || die "$text: $(grep -m1 -v '^$' <<<"$output" | sed 's/^fatal: //')"
  printf '%s\n' "$output"
}

# claim_work_folder FOLDER MARKER TEXT: makes FOLDER this tool's own work folder and empties it. A folder that
# does not exist or is empty is claimed by writing MARKER (a file naming what made it, TEXT) into it; a folder that
# holds anything else is emptied only when it holds the tool's own MARKER as a regular file, and refused otherwise:
# the folder a user names by mistake (their home, a project) is never emptied.
claim_work_folder() {
  local folder=$1 marker=$2 text=$3
  [ ! -L "$folder" ] || die "the work folder $folder is a link; give the folder itself"
  if [ -e "$folder" ] && [ ! -d "$folder" ]; then die "the work folder $folder is not a folder"; fi
  mkdir -p -- "$folder" || die "cannot create the work folder $folder"
  if [ -n "$(ls -A -- "$folder")" ]; then
    [ -f "$folder/$marker" ] && [ ! -L "$folder/$marker" ] ||
      die "the work folder $folder holds files that this tool did not make (no $marker); give a new or empty folder"
    find "$folder" -mindepth 1 -maxdepth 1 ! -name "$marker" -exec rm -rf --one-file-system -- {} +
  fi
  printf '%s\n' "$text" >"$folder/$marker"
}

# --- The build -------------------------------------------------------------------------------------------------------
# The build's environment: nothing of the caller's (no CFLAGS, CXXFLAGS, LDFLAGS, CC, CXX or PATH of theirs reaches
# CMake, which would take them as defaults), the system's programs only, a fixed locale, time zone and umask.
build_environment=(PATH=/usr/sbin:/usr/bin:/sbin:/bin LC_ALL=C.UTF-8 TZ=UTC HOME=/nonexistent)

# unpack_commit REPOSITORY COMMIT FOLDER: the commit's files, exactly as committed, into the new FOLDER.
unpack_commit() {
  mkdir -p -- "$3"
  git_or_die "cannot read commit $2 of $1" -C "$1" cat-file -e "$2^{commit}" >/dev/null
  git -C "$1" archive --format=tar "$2" | tar -x -C "$3" ||
    die "cannot unpack commit $2 of $1 into $3"
}

# build_commit SOURCE BUILD PAYLOAD EPOCH LOG: runs SOURCE's own build recipe (scripts/release-build.sh of the
# unpacked commit, never this checkout's) in the fixed environment; the unsigned setup is then
# BUILD/src/Quillmart-Setup.exe.
build_commit() {
  [ -f "$1/scripts/release-build.sh" ] ||
    die "the commit in $1 has no scripts/release-build.sh: it was made before releases recorded their build recipe"
  # shellcheck disable=SC2016 # the inner shell expands $0 and $@
  env -i "${build_environment[@]}" SOURCE_DATE_EPOCH="$4" \
    /bin/bash -c 'umask 022 && exec /bin/bash "$0/scripts/release-build.sh" "$0" "$@"' "$1" "$2" "$3" >"$5" 2>&1
}

# --- The toolchain record --------------------------------------------------------------------------------------------
# The packages the build recipe runs or links with; the record holds these and everything they depend on.
toolchain_roots="bash coreutils tar make cmake g++ zlib1g-dev libzopfli-dev g++-mingw-w64-x86-64-posix
gcc-mingw-w64-x86-64-posix mingw-w64-x86-64-dev binutils-mingw-w64-x86-64 libz-mingw-w64-dev"

# toolchain_closure: "name version" of every installed package that the roots need (Depends and Pre-Depends,
# followed through alternatives and virtual packages to what is installed), sorted; a root that is not installed is
# listed with version "none".
toolchain_closure() {
  dpkg-query -W -f='${db:Status-Abbrev}\t${Package}\t${Version}\t${Provides}\t${Pre-Depends}, ${Depends}\n' |
    awk -F'\t' -v roots="$toolchain_roots" '
      function clean(word) { sub(/:[a-z0-9-]+$/, "", word); return word }
      $1 ~ /^ii/ {
        version[$2] = $3; needs[$2] = $5
        n = split($4, provided, /, */)
        for (i = 1; i <= n; i++) { split(provided[i], word, " "); if (word[1] != "") provider[word[1]] = $2 }
      }
      function installed(name) {
        name = clean(name)
        if (name in version) return name
        if (name in provider) return provider[name]
        return ""
      }
      END {
        n = split(roots, queue, /[ \n]+/)
        for (i = 1; i <= n; i++) { if (queue[i] == "") continue; seen[queue[i]] = 1 }
        for (head = 1; head <= n; head++) {
          name = queue[head]
          if (name == "" || !(name in version)) continue
          clauses = split(needs[name], clause, /, */)
          for (c = 1; c <= clauses; c++) {
            alternatives = split(clause[c], alternative, / *\| */)
            for (a = 1; a <= alternatives; a++) {
              split(alternative[a], word, " ")
              found = installed(word[1])
              if (found != "") { if (!(found in seen)) { seen[found] = 1; queue[++n] = found }; break }
            }
          }
        }
        for (name in seen) print name, (name in version ? version[name] : "none")
      }' | LC_ALL=C sort
}

# build_architecture: the Debian architecture of this machine.
build_architecture() {
  dpkg --print-architecture
}

# debian_release: "12.12 (bookworm)", or the system's own name elsewhere.
debian_release() {
  local codename
  codename=$(. /etc/os-release 2>/dev/null && echo "${VERSION_CODENAME:-}")
  if [ -r /etc/debian_version ]; then
    echo "$(cat /etc/debian_version)${codename:+ ($codename)}"
  else
    (. /etc/os-release 2>/dev/null && echo "${PRETTY_NAME:-unknown}") || echo unknown
  fi
}

# --- The .buildinfo --------------------------------------------------------------------------------------------------
# A record is "Key: value" lines, as in Debian's .buildinfo files; Installed-Build-Depends is a field of its own
# with one "name (= version)," line per package, each beginning with a blank. scripts/release_record.py writes and
# reads it: the writer reads its own text back, so a release never publishes a record its check would refuse.
buildinfo_format=2

# write_buildinfo FILE: the record of the variables the release has set (see release.sh's record_release).
write_buildinfo() {
  local fields=(--field "Format=$buildinfo_format" --field "Source=Quillmart-Setup") name payload errors build
  if [ -n "$commit" ]; then
    build="scripts/release-build.sh of the commit (Release, zopfli), env -i: ${build_environment[*]} umask 022"
    fields+=(--field "Source-Commit=$commit" --field "Source-Tree=$tree_state" --field "Build=$build"
      --field "Build-Architecture=$(build_architecture)" --field "Debian-Release=$(debian_release)"
      --field "Source-Date-Epoch=$signing_time" --packages-from -)
  else
    fields+=(--field "Build=given with --setup: built elsewhere; this record holds only what the signing machine knows"
      --field "Signing-Time=$signing_time")
  fi
  if [ "$demo" = 1 ]; then payload="demo stand-ins"; else payload="release files"; fi
  fields+=(--field "Payload=$payload")
  for name in WebView2Loader.dll Quillmart.exe; do
    fields+=(--field "Payload-File=$name $(file_size "$inputs/$name") $(file_sha256 "$inputs/$name")")
  done
  for payload in "${payload_signatures[@]}"; do fields+=(--field "Payload-Signature=$payload"); done
  fields+=(--field "Unsigned-SHA256=$(file_sha256 "$unsigned_exe")")
  if [ "$kind" = unsigned ]; then
    fields+=(--field "Signed-SHA256=none (unsigned)" --field "Signer=none" --field "Signer-Certificate-SHA256=none")
  else
    fields+=(--field "Signed-SHA256=$(file_sha256 "$partial")" --field "Signer=$signer"
      --field "Signer-Certificate-SHA256=$(certificate_sha256 "$signer_cert")" --field "Signature-Key=$key_type"
      --field "Signature-SHA256=$(file_sha256 "$partial_sig")" --field "Signed=by the release command")
  fi
  fields+=(--field "Timestamp-Authority=${timestamp:-none}" --field "Reproducible=$reproducible")
  # The packages reach the writer on its standard input: no temporary file, and a failed listing fails the pipe.
  errors=$(if [ -n "$commit" ]; then toolchain_closure; fi |
    python3 -I "${BASH_SOURCE[0]%/*}/release_record.py" write "${fields[@]}" -- "$1") || die "$errors"
}

# buildinfo_field FILE NAME: the value of the record's "NAME: value" line (empty when there is none). A record
# that is not exactly what a release writes ends the script with the reader's one line.
buildinfo_field() {
  local fields
  fields=$(python3 -I "${BASH_SOURCE[0]%/*}/release_record.py" read -- "$1") || die "$1: $fields"
  awk -F'\t' -v key="$2" '$1 == key { print $2; exit }' <<<"$fields"
}

# buildinfo_packages FILE: "name version" of each package of the record's Installed-Build-Depends, sorted.
buildinfo_packages() {
  local fields
  fields=$(python3 -I "${BASH_SOURCE[0]%/*}/release_record.py" read -- "$1") || die "$1: $fields"
  awk -F'\t' '$1 == "Installed-Build-Depends" { print $2 }' <<<"$fields" | LC_ALL=C sort
}

file_sha256() { sha256sum -- "$1" | cut -d' ' -f1; }
file_size() { wc -c <"$1" | tr -d ' '; }

# --- Signatures ------------------------------------------------------------------------------------------------------
# has_option OPTION: whether the installed osslsigncode knows OPTION (its usage text lists every option). The text
# is read whole first: a grep that stops reading at its first match would end osslsigncode with SIGPIPE.
has_option() {
  local usage_text
  usage_text=$(osslsigncode --help 2>&1 || true)
  grep -qw -- "$1" <<<"$usage_text"
}

# certificate_sha256 FILE: the SHA-256 of the (first) certificate in FILE, lower-case hex without colons.
certificate_sha256() {
  openssl x509 -in "$1" -noout -fingerprint -sha256 | sed 's/.*=//; s/://g' | tr 'A-F' 'a-f'
}

# certificate_subject FILE: the subject of the certificate in FILE, as RFC 2253 writes it.
certificate_subject() {
  openssl x509 -in "$1" -noout -subject -nameopt RFC2253 | sed 's/^subject=//'
}

# set_trust FOLDER CA CRL...: the trust that signatures are verified against, written into FOLDER: trust_file (the
# system's CA bundle and CA), crl_file (every CRL given, PEM or DER, as one PEM file; empty when none), and the
# texts roots_text and revocation_text. The bundle comes from Debian's ca-certificates; QMT_SYSTEM_ROOTS names
# another file (tests). Revocation is checked only against CRLs the user has, never fetched.
set_trust() {
  local folder=$1 ca=$2 bundle=${QMT_SYSTEM_ROOTS:-/etc/ssl/certs/ca-certificates.crt} file
  shift 2
  trust_file=$folder/trust.pem
  : >"$trust_file"
  if [ -r "$bundle" ]; then
    cat -- "$bundle" >>"$trust_file"
    roots_text="the system's ($bundle)"
  else
    roots_text="no system roots ($bundle is missing: install ca-certificates)"
  fi
  if [ -n "$ca" ]; then
    cat -- "$ca" >>"$trust_file"
    roots_text="$roots_text + $ca"
  fi
  crl_file=""
  revocation_text="not checked (offline)"
  [ $# -gt 0 ] || return 0
  crl_file=$folder/crls.pem
  : >"$crl_file"
  for file in "$@"; do
    [ -f "$file" ] && [ -r "$file" ] || die "the CRL file $file does not exist or cannot be read"
    if grep -q "BEGIN X509 CRL" -- "$file"; then
      cat -- "$file" >>"$crl_file"
    else
      openssl crl -inform DER -in "$file" >>"$crl_file" 2>/dev/null || die "--crl $file is not a CRL (PEM or DER)"
    fi
  done
  revocation_text="checked against $*"
}

# signature_leaf FILE FOLDER: writes the certificate that made FILE's (primary) signature to FOLDER/leaf.pem and
# returns 0; returns 1 when FILE holds no signature. The leaf is the embedded certificate whose issuer and serial
# number the signer information names; the chain check (verify_offline) proves that its key made the signature.
signature_leaf() {
  local file=$1 folder=$2 info issuer serial
  osslsigncode extract-signature -pem -in "$file" -out "$folder/signature.pem" >/dev/null 2>&1 || return 1
  info=$(openssl pkcs7 -in "$folder/signature.pem" -print -noout 2>/dev/null) || return 1
  issuer=$(awk '/^ *signer_info:/ { s = 1 } s && /^ *issuer: / { sub(/^ *issuer: /, ""); print; exit }' <<<"$info")
  serial=$(awk '/^ *signer_info:/ { s = 1 } s && /^ *serial: / { sub(/^ *serial: /, ""); print; exit }' <<<"$info")
  serial=$(sed 's/^0x//; s/^0*//' <<<"$serial" | tr 'a-f' 'A-F')
  openssl pkcs7 -in "$folder/signature.pem" -print_certs 2>/dev/null |
    awk -v folder="$folder" '/BEGIN CERTIFICATE/ { n++ } n { print > (folder "/cert-" n ".pem") }'
  local certificate
  for certificate in "$folder"/cert-*.pem; do
    [ -f "$certificate" ] || continue
    [ "$(openssl x509 -in "$certificate" -noout -serial | sed 's/^serial=//; s/^0*//')" = "$serial" ] || continue
    [ "$(openssl x509 -in "$certificate" -noout -issuer -nameopt sep_comma_plus_space | sed 's/^issuer=//')" = \
      "$issuer" ] || continue
    cp -- "$certificate" "$folder/leaf.pem"
    return 0
  done
  return 1
}

# attach_signature PEM IN OUT: IN with the signature in PEM attached, at OUT (none when it cannot be made).
# osslsigncode 2.5 reads only PEM and writes OUT only when the result verifies, so the trust is given; newer versions
# write OUT even when that verification fails. The file is what counts here: the signature is verified elsewhere.
attach_signature() {
  rm -f -- "$3"
  osslsigncode attach-signature -sigin "$1" -CAfile "$trust_file" -in "$2" -out "$3" >/dev/null 2>&1 || true
  [ -s "$3" ] || osslsigncode attach-signature -sigin "$1" -in "$2" -out "$3" >/dev/null 2>&1 || rm -f -- "$3"
}

# verify_offline FILE [LEAF-SHA256]: checks FILE's signature, its chain up to a root in trust_file and its digest
# (and a timestamp's) without reaching any URL: osslsigncode 2.5 fetches nothing, newer ones are told not to fetch
# CRLs. With crl_file every certificate of the chains is checked against it; with LEAF-SHA256 the signer's own
# certificate must be that one. Sets verify_output, and verify_cause to one line naming why a failed check failed.
verify_offline() {
  local args=(-CAfile "$trust_file" -TSA-CAfile "$trust_file")
  ! has_option -ignore-crl || args+=(-ignore-crl)
  [ -z "$crl_file" ] || args+=(-CRLfile "$crl_file" -TSA-CRLfile "$crl_file")
  [ -z "${2:-}" ] || ! has_option -require-leaf-hash || args+=(-require-leaf-hash "sha256:$2")
  verify_cause=""
  verify_output=$(osslsigncode verify "${args[@]}" -in "$1" 2>&1) && return 0
  verify_cause=$(verify_failure "$verify_output")
  return 1
}

# verify_failure OUTPUT: one line naming why osslsigncode's verification failed.
verify_failure() {
  local part="the signature" url
  grep -q "^Timestamp Server Signature verification: failed" <<<"$1" && part="the timestamp"
  url=$(grep -m1 -oE 'Failed to get data from [^ ]+|get CRL from [^ ]+' <<<"$1" | awk '{ print $NF }')
  if grep -q "MISMATCH" <<<"$1"; then
    echo "the file's digest does not match its signature: it was changed after signing"
  elif grep -q "Leaf hash match: failed" <<<"$1"; then
    echo "the signer's certificate is not the expected one"
  elif [ -n "$url" ]; then
    echo "this osslsigncode fetches the CRL at $url and cannot reach it (no root is missing); give the CRLs with --crl"
  elif grep -q "certificate revoked" <<<"$1"; then
    echo "a certificate of $part's chain is revoked by a CRL given with --crl"
  elif grep -q "unable to get certificate CRL" <<<"$1"; then
    echo "the --crl files hold no CRL for a certificate of $part's chain"
  elif grep -qE "unable to get (local )?issuer certificate|self.signed certificate in certificate chain" <<<"$1"; then
    echo "$part's chain does not lead to a trusted root (give the root with --ca, the intermediates with the certificate)"
  elif grep -q "certificate has expired" <<<"$1"; then
    if grep -q "^Timestamp is not available\|Timestamp is not available" <<<"$1"; then
      echo "a certificate of $part's chain has expired since the signing; the signature has no timestamp, which would have kept it valid"
    else
      echo "a certificate of $part's chain had expired at the time of the timestamp"
    fi
  elif grep -q "certificate is not yet valid" <<<"$1"; then
    echo "a certificate of $part's chain is not yet valid"
  elif grep -q "No signature found\|Unable to extract existing signature" <<<"$1"; then
    echo "the file is not signed"
  else
    grep -iE -m1 'error|fail' <<<"$1" || echo "osslsigncode verify failed"
  fi
}
