#!/usr/bin/env bash
# scripts/setup.sh against a package mirror that fails: apt-get, dpkg-query,
# sudo and sleep are stand-ins in PATH, told by FAKE_UPDATE (the outcomes of
# the index updates in turn, "ok" or "fail") and FAKE_INSTALL what to do.
#   bash setup_test.sh SETUP_SCRIPT
set -uo pipefail
setup=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir "$work/bin"
cat > "$work/bin/apt-get" <<'FAKE'
#!/usr/bin/env bash
echo "$*" >> "$FAKE_LOG"
case " $* " in
*" update "*)
  count=$(grep -c update "$FAKE_LOG")
  outcome=$(echo "$FAKE_UPDATE" | cut -d' ' -f"$count")
  if [ "$outcome" = fail ]; then
    echo "E: Failed to fetch http://mirror.example/debian-security/dists/stable/main/binary-i386/Packages.xz  File has unexpected size (1 != 2). Mirror sync in progress?"
    echo "E: Some index files failed to download. They have been ignored, or old ones used instead."
    exit 100
  fi;;
*" install "*)
  [ "$FAKE_INSTALL" = ok ] || { echo "E: Unable to locate package g++" >&2; exit 100; };;
esac
exit 0
FAKE
printf '#!/bin/sh\necho not-installed\n' > "$work/bin/dpkg-query"
printf '#!/bin/sh\nexec "$@"\n' > "$work/bin/sudo"
printf '#!/bin/sh\necho "$*" >> "$FAKE_LOG.sleep"\n' > "$work/bin/sleep"
chmod +x "$work/bin/"*

failures=0
check() {  # check NAME UPDATES INSTALL STATUS UPDATE_CALLS PAUSES MIRROR_MESSAGE(yes/no)
  local name=$1
  export FAKE_LOG="$work/$name.log" FAKE_UPDATE=$2 FAKE_INSTALL=$3
  : > "$FAKE_LOG"
  : > "$FAKE_LOG.sleep"
  PATH="$work/bin:$PATH" bash "$setup" > "$work/$name.out" 2> "$work/$name.err"
  local status=$? updates pauses last
  updates=$(grep -c update "$FAKE_LOG")
  pauses=$(wc -l < "$FAKE_LOG.sleep")
  last=$(tail -n 1 "$work/$name.err")
  local fine=1
  [ "$status" = "$4" ] || fine=0
  [ "$updates" = "$5" ] || fine=0
  [ "$pauses" = "$6" ] || fine=0
  if [ "$7" = yes ]; then
    [[ "$last" == *"binary-i386/Packages.xz"*"package mirror's state"*"not this project's"* ]] || fine=0
  else
    ! grep -q "mirror's state" "$work/$name.err" || fine=0
  fi
  if [ $fine -eq 0 ]; then
    echo "FAIL $name: status $status, $updates updates, $pauses pauses; standard error:" >&2
    cat "$work/$name.err" >&2
    failures=$((failures + 1))
  fi
}

check fine           "ok"        ok   0 1 0 no
check failedOnce     "fail ok"   ok   0 2 1 no
check failedTwiceYet "fail fail" ok   0 2 1 no   # the lists at hand hold every package
check failedTwice    "fail fail" fail 1 2 1 yes
check installFails   "ok"        fail 1 1 0 no   # not the mirror's doing: apt's own message says it
[ $failures -eq 0 ] && echo "setup.sh: every case as expected"
exit $failures
