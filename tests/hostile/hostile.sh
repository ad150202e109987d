#!/usr/bin/env bash
# Hostile trees: each group builds its trees in a temporary folder, runs
# ostrel on them from inside it with relative arguments, and checks the exact
# standard output, the exit status 0 and an empty standard error. A timeout
# guards every run against a hang; it is no timing.
# Usage: hostile.sh OSTREL HOSTILE_TOOL GROUP
#   groups: links special names sizes permissions writes depth deep limits
#           share
# Exit status 77: the group could not run here (skipped). The group share
# mounts its trees through the benchmarks' share_fs, named by the
# environment variable OSTREL_SHARE_FS.
set -uo pipefail

ostrel_build=$(realpath "$1") tool=$(realpath "$2") group=$3
root=$(mktemp -d)
other=$(mktemp -d)  # a second temporary folder, outside every walked tree
share_mount='' share_daemon=''  # the share group's mount, if any
cleanup() {
  if [ -n "$share_mount" ]; then
    umount "$share_mount" 2>/dev/null || umount -l "$share_mount" 2>/dev/null
  fi
  [ -z "$share_daemon" ] || { kill "$share_daemon" 2>/dev/null; wait "$share_daemon" 2>/dev/null; }
  chmod -R u+rwx "$root" 2>/dev/null
  "$tool" remove "$root" 2>/dev/null || rm -rf "$root"
  rm -rf "$other"
}
trap cleanup EXIT
# The unprivileged user of the permission rows must reach the tree and run
# the program.
chmod 755 "$root" "$other"
ostrel=$root/ostrel
cp "$ostrel_build" "$ostrel" && chmod 755 "$ostrel"
runner=()
failures=0
rows=0

jpg() { "$tool" jpeg "$1" "${2:-64}" "${3:-48}" || exit 1; }

# Starts the trees of one group in a fresh folder of its own.
new_tree() {
  tree=$root/$1
  mkdir "$tree" && cd "$tree" || exit 1
}

# row NAME EXPECTED ARGUMENT...: EXPECTED is printf %b text.
row() {
  local name=$1 expected=$2
  shift 2
  printf '%b' "$expected" >"$root/expected"
  row_file "$name" "$root/expected" "$@"
}

# row_file NAME EXPECTED_FILE ARGUMENT...
row_file() {
  local name=$1 expected=$2
  shift 2
  rows=$((rows + 1))
  timeout 300 "${runner[@]}" "$ostrel" "$@" >"$root/out" 2>"$root/err"
  check_run "$name" "$expected" $?
}

# check_run NAME EXPECTED_FILE STATUS: the run's exit status, its empty
# standard error and its exact output ($root/out and $root/err).
check_run() {
  local name=$1 expected=$2 status=$3
  if [ $status -eq 0 ] && [ ! -s "$root/err" ] && cmp -s "$expected" "$root/out"
  then
    return
  fi
  failures=$((failures + 1))
  echo "FAIL: $group: $name (exit status $status)"
  head -c 2000 "$root/err"
  diff <(cat -A "$expected") <(cat -A "$root/out") | cut -c1-200 | head -n 20
}

# Runs what follows with LIMIT descriptors in all and none inherited beyond
# the standard three, so that the limit means what it says.
limit_descriptors() {
  runner=(bash -c 'for fd in /proc/$$/fd/*; do fd=${fd##*/}
    [ "$fd" -gt 2 ] && eval "exec $fd>&-"; done
    ulimit -n "$0" && exec "$@"' "$1")
}

group_links() {
  new_tree links
  mkdir -p self/d parent/d/sub mutual/x mutual/y sibling/real outside \
           dangling dirlink/d dirlink/elsewhere
  jpg self/d/a.jpg
  ln -s . self/d/self
  jpg parent/d/a.jpg
  jpg parent/d/sub/b.jpg
  ln -s .. parent/d/sub/up
  jpg mutual/x/1.jpg
  jpg mutual/y/2.jpg
  ln -s ../y mutual/x/toy
  ln -s ../x mutual/y/tox
  jpg sibling/real/1.jpg
  ln -s real sibling/alias
  jpg "$other/real.jpg" 32 16
  ln -s "$other/real.jpg" outside/ext.jpg
  jpg dangling/a.jpg
  ln -s nowhere dangling/x.jpg
  ln -s loop.jpg dangling/loop.jpg
  jpg dirlink/d/a.jpg
  jpg dirlink/elsewhere/1.jpg
  ln -s ../elsewhere dirlink/d/y.jpg

  # Each directory is walked once per argument, by the first path that
  # reaches it in name order.
  row "link to itself" "self/d/a.jpg 64 48\n" -r self/d
  row "link to its parent" \
      "parent/d/a.jpg 64 48\nparent/d/sub/b.jpg 64 48\n" -r parent/d
  row "two directories linking to each other" \
      "mutual/x/1.jpg 64 48\nmutual/x/toy/2.jpg 64 48\n" -r mutual
  row "link to a sibling directory" "sibling/alias/1.jpg 64 48\n" -r sibling
  row "the same tree twice, once per argument" \
      "sibling/alias/1.jpg 64 48\nsibling/alias/1.jpg 64 48\n" \
      -r sibling sibling
  row "link to a file in another folder" "outside/ext.jpg 32 16\n" -r outside
  row "dangling and looping links named *.jpg" \
      "dangling/a.jpg 64 48\ndangling/loop.jpg;can't open file\ndangling/x.jpg;can't open file\n" \
      -r dangling
  row "dangling link named as the argument" \
      "dangling/x.jpg;can't open file\n" dangling/x.jpg
  row "link named y.jpg to a directory, not walked" \
      "dirlink/d/a.jpg 64 48\n" dirlink/d
  row "link named y.jpg to a directory, walked" \
      "dirlink/d/a.jpg 64 48\ndirlink/d/y.jpg/1.jpg 64 48\n" -r dirlink/d
}

group_special() {
  new_tree special
  mkdir d
  jpg d/a.jpg
  mkfifo d/fifo.jpg          # nobody ever writes to it
  "$tool" socket d/sock.jpg || exit 1
  ln -s /dev/zero d/zero.jpg
  ln -s /dev/null d/null.jpg
  local size
  size=$(stat -c %s d/a.jpg)
  local refused="d/fifo.jpg;can't open file\nd/null.jpg;can't open file\nd/sock.jpg;can't open file\nd/zero.jpg;can't open file\n"

  row "special files in a directory" "d/a.jpg 64 48\n$refused" d
  row "special files, recursive, with a summary" \
      "d/a.jpg 64 48 $size\n${refused}1 $size $size 64 48\n" -v2 -r -s d
  row "special files named as arguments" \
      "d/fifo.jpg;can't open file\nd/zero.jpg;can't open file\n" \
      d/fifo.jpg d/zero.jpg
  row "special files matched by a wildcard" "$refused" 'd/[fnsz]*.jpg' \
      'd/?ifo.jpg' 'd/n*' 'd/s*' 'd/z*'
}

group_names() {
  new_tree names
  mkdir -p d 'd/*.jpg' 'd/a*b' d/axb 'd/q?' d/Sub d/sub
  local long
  long=$(printf 'x%.0s' $(seq 251)).jpg  # 255 bytes
  for name in 'my photo.jpg' $'new\nline.jpg' $'tab\there.jpg' 'st*r.jpg' \
              'q?.jpg' '[x].jpg' 'back\slash.jpg' '-v2.jpg' $'caf\xe9.jpg' \
              $'\xff\xfe.jpg' "$long" '*.jpg/in.jpg' 'a*b/1.jpg' 'axb/2.jpg' \
              'q?/3.jpg' Sub/s.jpg sub/s.jpg; do
    jpg "d/$name"
  done
  jpg d/A.jpg 32 16
  jpg d/a.jpg 16 8
  jpg d/IMG.JPG 8 4

  # Name order: A-Z folded, then raw bytes; bytes from 0x80 up last.
  local files="d/-v2.jpg 64 48
d/[x].jpg 64 48
d/A.jpg 32 16
d/a.jpg 16 8
d/back\\\\slash.jpg 64 48
d/caf\\0351.jpg 64 48
d/IMG.JPG 8 4
d/my photo.jpg 64 48
d/new
line.jpg 64 48
d/q?.jpg 64 48
d/st*r.jpg 64 48
d/tab\there.jpg 64 48
d/$long 64 48
d/\\0377\\0376.jpg 64 48
"
  # Names holding * and ? below the argument are directories, not patterns.
  local subdirectories="d/*.jpg/in.jpg 64 48
d/a*b/1.jpg 64 48
d/axb/2.jpg 64 48
d/q?/3.jpg 64 48
d/Sub/s.jpg 64 48
d/sub/s.jpg 64 48
"
  row "odd names, a directory named *.jpg not probed" "$files" d
  row "odd names, recursive" "$files$subdirectories" -r d
  row "a wildcard argument matches files only" "$files" 'd/*.jpg'
  row "a wildcard argument, recursive" "$files$subdirectories" -r 'd/*'
  row "? in an argument matches one byte" "d/q?.jpg 64 48\n" 'd/q?.jpg'
  row "a leading dash after the directory part" "d/-v2.jpg 64 48\n" d/-v2.jpg
  row "a name of 255 bytes" "d/$long 64 48\n" "d/$long"
  row "a file argument in another case is not found" "" d/img.jpg
}

group_sizes() {
  new_tree sizes
  mkdir empty sparse cut big
  : >empty/empty.jpg
  row "an empty file" "empty/empty.jpg:can't find marker\n" empty

  "$tool" sparse sparse/big.jpg 5368709120 64 48 || exit 1
  row "a sparse 5 GiB file" \
      "sparse/big.jpg 64 48 5368709120\n1 5368709120 5368709120 64 48\n" \
      -v2 -s sparse

  # A header cut at every offset: no frame before the whole marker, each
  # dimension 0 until both its bytes are there.
  local frame length
  read -r frame length < <("$tool" truncations cut 64 48) || exit 1
  awk -v f="$frame" -v n="$length" 'BEGIN {
    for (c = 0; c < n; ++c) {
      name = sprintf("cut/cut-%05d.jpg", c)
      if (c < f + 2) { print name ":can'\''t find marker"; continue }
      print name, (c >= f + 9 ? 64 : 0), (c >= f + 7 ? 48 : 0), c
    }
  }' >"$root/expected"
  row_file "a header truncated at every offset" "$root/expected" -v2 cut
  # A stack of 40 KiB (`ulimit -s 40`): no large buffer lives on one. A
  # sanitizer's runtime wants more stack of its own.
  if [ -z "${OSTREL_SANITIZED:-}" ]; then
    runner=(bash -c 'ulimit -s 40 && exec "$@"' -)
    row_file "a walk on a stack of 40 KiB" "$root/expected" -r -v2 cut
    runner=()
  fi

  "$tool" many big 200000 || exit 1
  seq -f "big/f%06g.jpg:can't find marker" 0 199999 >"$root/expected"
  row_file "a directory of 200,000 entries" "$root/expected" -r big
  "$tool" remove big || exit 1
}

group_permissions() {
  new_tree permissions
  mkdir -p d/locked d/noexec/sub
  jpg d/a.jpg
  jpg d/secret.jpg
  jpg d/locked/in.jpg
  jpg d/noexec/x.jpg
  jpg d/noexec/sub/y.jpg
  chmod 000 d/secret.jpg d/locked
  chmod 644 d/noexec  # listed, but nothing inside can be opened
  [ "$(id -u)" -ne 0 ] ||
    runner=(setpriv --reuid=65534 --regid=65534 --clear-groups)

  row "unreadable file and directories" \
      "d/a.jpg 64 48\nd/secret.jpg;can't open file\nd/noexec/x.jpg;can't open file\n" \
      -r d
  row "an unreadable directory as the argument" "" -r d/locked
  runner=()
  chmod 755 d/locked d/noexec
}

group_writes() {
  if ! strace -o /dev/null true 2>/dev/null; then
    echo "writes: skipped: strace is missing or may not trace here"
    exit 77
  fi
  new_tree writes
  mkdir -p d/sub
  jpg d/a.jpg
  jpg d/sub/b.jpg
  : >d/empty.jpg
  mkfifo d/fifo.jpg
  ln -s .. d/sub/up
  ln -s nowhere d/x.jpg
  runner=(strace -f -qq -e trace=open,openat,creat -o "$root/trace")
  row "a traced recursive run" \
      "d/a.jpg 64 48\nd/empty.jpg:can't find marker\nd/fifo.jpg;can't open file\nd/x.jpg;can't open file\nd/sub/b.jpg 64 48\n" \
      -r d
  runner=()
  rows=$((rows + 1))
  local writes
  writes=$(grep -E 'O_WRONLY|O_RDWR|O_CREAT|O_TRUNC|creat\(' "$root/trace")
  # Files are opened by name, relative to their directory.
  if ! grep -q 'openat(.*"b.jpg"' "$root/trace" || [ -n "$writes" ]; then
    failures=$((failures + 1))
    echo "FAIL: $group: no open of b.jpg in the trace, or a write flag"
    echo "$writes" | head -n 20
  fi
  # Scripts run ostrel once per file: such a run makes about as few system
  # calls as a C program doing the same (60 at most; a C program's own
  # dynamic start takes some 30), whatever the descriptor table holds.
  runner=(strace -f -qq -c -o "$root/calls")
  row "one file, by system calls" "d/a.jpg 64 48\n" d/a.jpg
  runner=()
  rows=$((rows + 1))
  local calls
  calls=$(awk '$NF == "total" {print $(NF-2)}' "$root/calls")
  if [ -z "$calls" ] || [ "$calls" -gt 60 ]; then
    failures=$((failures + 1))
    echo "FAIL: $group: one file took ${calls:-no} system calls, above 60"
  fi
}

# The descriptor limits of the depth rows. A sanitizer's runtime needs
# descriptors of its own to check memory, so the scarcest limit is left to
# the plain build.
depth_limits() {
  [ -z "${OSTREL_SANITIZED:-}" ] && echo "unlimited 64 8" || echo "unlimited 64"
}

# A 40-level chain of 200-byte names, `long`, a JPEG at every level; what a
# recursive run prints for it goes to $root/long.
make_long_chain() {
  mkdir long
  "$tool" jpegchain long 40 "$(printf 'n%.0s' {1..200})" 1 || exit 1
  awk 'BEGIN {
    name = sprintf("%200s", ""); gsub(/ /, "n", name)
    for (dir = "long"; n <= 40; dir = dir "/" name) {
      print dir "/a.jpg 64 48"
      n++
    }
  }' >"$root/long"
}

# Trees far deeper than any path the system takes whole, each walked in
# full, also with only 64 or 8 descriptors to hold its directories with.
group_depth() {
  new_tree depth
  make_long_chain
  mkdir ladder
  "$tool" ladder ladder 3000 || exit 1
  local size
  size=$(stat -c %s long/a.jpg)
  for limit in $(depth_limits); do
    [ $limit = unlimited ] || limit_descriptors $limit
    row_file "a 40-level chain of 200-byte names (descriptors: $limit)" \
        "$root/long" -r long
    row "a 3,000-level tree with a leaf beside every level (descriptors: $limit)" \
        "3000 $((3000 * size)) $size 64 48\n" -v0 -s -r ladder
    runner=()
  done
}

# Chains of 10,000 levels: every level is walked, however long its path
# grows, also with only 64 or 8 descriptors. They take tens of seconds;
# the quick groups walk past the path limit too, less deep.
group_deep() {
  new_tree deep
  # Each level but the last holds an empty f.jpg (about 100 MB of output).
  mkdir deep
  "$tool" chain deep 10000 || exit 1
  awk 'BEGIN {
    for (dir = "deep"; level < 10000; dir = dir "/d") {
      print dir "/f.jpg:can'\''t find marker"
      level++
    }
  }' >"$root/expected"
  row_file "a tree 10,000 levels deep" "$root/expected" -r deep
  "$tool" remove deep || exit 1

  # A JPEG every 2,500 levels, then the 40-level chain as a second argument.
  mkdir chain
  "$tool" jpegchain chain 10000 d 2500 || exit 1
  make_long_chain
  awk 'BEGIN {
    for (dir = "chain"; level <= 10000; dir = dir "/d") {
      if (level % 2500 == 0) print dir "/a.jpg 64 48"
      level++
    }
  }' >"$root/chains"
  cat "$root/long" >>"$root/chains"
  for limit in $(depth_limits); do
    [ $limit = unlimited ] || limit_descriptors $limit
    row_file "a 10,000-level chain, a 40-level chain of 200-byte names (descriptors: $limit)" \
        "$root/chains" -r chain long
    runner=()
  done
}

# renamed_row NAME EXPECTED_FILE FROM TO ARGUMENT...: once the first line is
# out, so that the walk is deep in its tree, FROM is renamed TO; the reader
# then reads on, and FROM gets its name back afterwards.
renamed_row() {
  local name=$1 expected=$2 from=$3 to=$4
  shift 4
  rows=$((rows + 1))
  rm -f "$root/fifo" && mkfifo "$root/fifo"
  "${runner[@]}" "$ostrel" "$@" >"$root/fifo" 2>"$root/err" &
  local pid=$!
  local first=
  exec 3<"$root/fifo"
  IFS= read -r first <&3
  mv "$from" "$to"
  { printf '%s\n' "$first"; timeout 300 cat <&3; } >"$root/out"
  exec 3<&-
  wait $pid
  local status=$?
  mv "$to" "$from"
  check_run "$name" "$expected" $status
}

# Few descriptors, an ancestor renamed during the walk, little memory: a
# run may slow, but prints what it prints with plenty of each.
group_limits() {
  if [ -n "${OSTREL_SANITIZED:-}" ]; then
    echo "limits: skipped: a sanitizer's runtime needs descriptors and memory of its own"
    exit 77
  fi
  new_tree limits
  mkdir chain fits spread many ladder long
  "$tool" jpegchain chain 3000 d 1 || exit 1  # texts past the path limit
  "$tool" jpegchain fits 1500 d 1 || exit 1   # every text within it
  "$tool" spread spread 20000 || exit 1
  "$tool" many many 100000 || exit 1
  "$tool" ladder ladder 1500 || exit 1
  "$tool" jpegchain long 2000 "$(printf 'n%.0s' {1..255})" 1 || exit 1
  local size
  size=$(stat -c %s chain/a.jpg)
  for tree in chain fits; do
    awk -v top=$tree -v n=$(find $tree -name a.jpg | wc -l) -v size="$size" 'BEGIN {
      for (dir = top; level < n; dir = dir "/d") { print dir "/a.jpg 64 48"; level++ }
      print n, n * size, size, 64, 48
    }' >"$root/$tree.expected"
  done
  awk -v size="$size" 'BEGIN {
    for (i = 0; i < 20000; i++) printf "spread/d%06d/a.jpg 64 48\n", i
    print 20000, 20000 * size, size, 64, 48
  }' >"$root/spread.expected"
  { seq -f "many/f%06g.jpg:can't find marker" 0 99999; echo "0 0 0 0 0"; } \
    >"$root/many.expected"
  awk -v size="$size" 'BEGIN {
    for (level = 1499; level >= 0; level--) {
      dir = "ladder"
      for (i = 0; i < level; i++) dir = dir "/d"
      print dir "/z/a.jpg 64 48"
    }
    print 1500, 1500 * size, size, 64, 48
  }' >"$root/ladder.expected"

  # With one descriptor beside the standard three only texts within the
  # path limit are promised; from two on, any.
  for limit in 4 5 6 7 8; do
    limit_descriptors $limit
    local deep=chain
    [ $limit -gt 4 ] || deep=fits
    for tree in $deep spread many; do
      row_file "$tree (descriptors: $limit)" "$root/$tree.expected" -r -s $tree
    done
  done
  for limit in 8 64 1024; do
    limit_descriptors $limit
    renamed_row "an ancestor renamed during the walk (descriptors: $limit)" \
        "$root/ladder.expected" ladder/d ladder/e -r -s ladder
  done
  runner=(bash -c "ulimit -v 64000 && exec \"\$@\"" -)
  row "2,000 levels of 255-byte names in 64 MB" \
      "2001 $((2001 * size)) $size 64 48\n" -v0 -r -s long
  runner=()
  rm -rf spread many  # shallow and wide: faster so than one at a time
}

# Trees on an imitated network share at 1 ms a request (share_fs), walked
# under an address-space limit: a run on a share prints what it prints on
# the local disk, however many threads the latency calls for.
# A reader that pauses (`ostrel -r share | less`): the run waits on its
# output inside paused/a while the directories after it, read ahead, change
# on the server; what it prints afterwards is what a walk that lists each
# directory when it gets there prints: the files added, nothing of a
# directory removed, a renamed subdirectory under its new name. Run from
# inside the mount; the share's files are changed in ../local.
paused_reader_row() {
  local name=paused_reader_row_file_with_a_name_long_enough_to_fill_pages
  mkdir -p ../local/paused/a ../local/paused/b ../local/paused/c \
           ../local/paused/d/sub || exit 1
  seq -f "../local/paused/a/$name%04g.jpg" 0 2999 >"$root/names"
  printf '../local/paused/%s\n' b/1.jpg b/2.jpg c/1.jpg c/2.jpg d/sub/1.jpg \
    >>"$root/names"
  xargs -n 500 -a "$root/names" sh -c 'tee "$@" <../a.jpg >/dev/null' - ||
    exit 1
  rows=$((rows + 1))
  # Far more output than a pipe and the output buffer hold: the run waits
  # in paused/a for a reader that sleeps, while the tree changes.
  { timeout 300 "$ostrel" -r paused 2>"$root/err"; echo $? >"$root/status"; } |
    { sleep 4; cat >"$root/out"; } &
  local reader=$!
  sleep 2
  cp ../a.jpg ../local/paused/b/3.jpg
  rm -r ../local/paused/c
  mv ../local/paused/d/sub ../local/paused/d/moved
  wait $reader
  local status
  status=$(cat "$root/status")
  timeout 300 "$ostrel" -r paused >"$root/expected" 2>>"$root/err"
  check_run "a reader paused while the directories read ahead change" \
    "$root/expected" $status
}

group_share() {
  local share_fs=${OSTREL_SHARE_FS:+$(realpath "$OSTREL_SHARE_FS")}
  if [ -n "${OSTREL_SANITIZED:-}" ]; then
    echo "share: skipped: a sanitizer's runtime needs address space of its own"
    exit 77
  elif [ -z "$share_fs" ] || [ ! -x "$share_fs" ]; then
    echo "share: skipped: share_fs is not built (it needs libfuse3-dev and pkg-config)"
    exit 77
  elif [ "$(id -u)" -ne 0 ] || [ ! -c /dev/fuse ] || ! command -v mountpoint >/dev/null; then
    echo "share: skipped: mounting the imitated share needs root, /dev/fuse and mountpoint"
    exit 77
  fi
  new_tree share
  mkdir -p local/flat mnt
  jpg a.jpg
  local size
  size=$(stat -c %s a.jpg)
  # 2,000 files in one directory; 300 files above 258 directories, six to
  # a level and three levels deep, each holding five: the probes of the
  # first files are in flight while the directories below are read.
  seq -f 'local/flat/f%04g.jpg' 0 1999 >"$root/names"
  seq -f 'local/tree/f%03g.jpg' 0 299 >>"$root/names"
  mkdir -p local/tree/d0{0..5}/d0{0..5}/d0{0..5}
  find local/tree -mindepth 1 -type d |
    awk '{ for (i = 0; i < 5; i++) print $0 "/f" i ".jpg" }' >>"$root/names"
  xargs -n 500 -a "$root/names" sh -c 'tee "$@" <a.jpg >/dev/null' - || exit 1
  seq -f 'flat/f%04g.jpg 64 48' 0 1999 >"$root/flat.expected"
  echo "2000 $((2000 * size)) $size 64 48" >>"$root/flat.expected"
  awk -v size="$size" 'function walk(dir, depth,   i) {
      for (i = 0; i < 5; i++) print dir "/f" i ".jpg 64 48"
      if (depth < 3) for (i = 0; i < 6; i++) walk(dir "/d0" i, depth + 1)
    }
    BEGIN {
      for (i = 0; i < 300; i++) printf "tree/f%03d.jpg 64 48\n", i
      for (i = 0; i < 6; i++) walk("tree/d0" i, 1)
      print 1590, 1590 * size, size, 64, 48
    }' >"$root/tree.expected"

  # The daemon ends itself, unmounting, should this script be killed.
  timeout 900 "$share_fs" --delay-us 1000 "$tree/local" "$tree/mnt" \
    2>"$root/share_fs.log" &
  share_daemon=$! share_mount=$tree/mnt
  local tries
  for tries in $(seq 100); do
    mountpoint -q mnt || ! kill -0 $share_daemon 2>/dev/null && break
    sleep 0.1
  done
  if ! mountpoint -q mnt; then
    echo "share: skipped: share_fs could not mount here: $(head -n 1 "$root/share_fs.log")"
    exit 77
  fi
  cd mnt || exit 1
  runner=(bash -c "ulimit -v 300000 && exec \"\$@\"" -)
  row_file "2,000 files in one directory on a share at 1 ms, in 300 MB" \
      "$root/flat.expected" -s flat
  runner=(bash -c "ulimit -v 60000 && exec \"\$@\"" -)
  row_file "1,590 files in 259 directories on a share at 1 ms, in 60 MB" \
      "$root/tree.expected" -r -s tree
  runner=()
  paused_reader_row
  cd "$tree" && umount mnt && wait $share_daemon
  share_mount='' share_daemon=''
}

case $group in
  links|special|names|sizes|permissions|writes|depth|deep|limits|share)
    "group_$group" ;;
  *) echo "unknown group: $group" >&2; exit 2 ;;
esac
echo "$group: $rows rows, $failures failed"
[ $failures -eq 0 ]
