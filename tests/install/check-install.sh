#!/usr/bin/env bash
# Installs the build into a staging folder, runs the installed program from another folder on
# the installed demo script, reads the installed manual page, then uninstalls and checks that
# nothing of ours is left. Usage: check-install.sh SOURCE_DIR BUILD_DIR
set -euo pipefail
src=$1
build=$2
work=$(mktemp -d)
# The build folder's list of installed files belongs to the user's own `make install`: keep it.
manifest=$build/install_manifest.txt
[ -f "$manifest" ] && cp "$manifest" "$work/manifest"
restore() {
  if [ -f "$work/manifest" ]; then cp "$work/manifest" "$manifest"; else rm -f "$manifest"; fi
  rm -rf "$work"
}
trap restore EXIT
dest=$work/dest
prefix=/opt/tessara-test

make -C "$src" --no-print-directory BUILD="$build" install-only DESTDIR="$dest" PREFIX="$prefix" >/dev/null
root=$dest$prefix
for f in bin/tessara bin/tessara-gui lib/tessara/VDubTessara.so share/tessara/demo.ssa \
         share/doc/tessara/README.md share/man/man1/tessara.1.gz \
         share/bash-completion/completions/tessara share/applications/tessara.desktop \
         share/icons/hicolor/scalable/apps/tessara.svg; do
  [ -f "$root/$f" ] || { echo "not installed: $f"; exit 1; }
done

# The installed program needs nothing from the source tree: run it elsewhere on a copy.
mkdir "$work/elsewhere"
cd "$work/elsewhere"
"$root/bin/tessara" --version | grep -qx "tessara [0-9]*\.[0-9]*\.[0-9]*\.[0-9]*"
"$root/bin/tessara" generate --quiet "$root/share/tessara/demo.ssa" -o "$work/elsewhere/demo.son" >/dev/null
[ -s demo.son ] && [ -s demo_0001.bmp ] && [ -s demo.spf ] || { echo "generate wrote nothing"; exit 1; }

# The desktop entry is valid and opens SSA scripts with the installed program.
desktop-file-validate "$root/share/applications/tessara.desktop"
grep -qx "MimeType=text/x-ssa;" "$root/share/applications/tessara.desktop"
QT_QPA_PLATFORM=offscreen "$root/bin/tessara-gui" --version 2>/dev/null | grep -qx "tessara-gui [0-9.]*" ||
  { echo "tessara-gui does not start"; exit 1; }

# The manual page renders and covers every command.
page=$(MANWIDTH=100 man -l "$root/share/man/man1/tessara.1.gz" 2>/dev/null)
for c in info generate import save "tool snap" timeline render export check-segments feed "EXIT STATUS"; do
  grep -q "$c" <<<"$page" || { echo "manual page lacks $c"; exit 1; }
done

# The completion loads in a plain bash and offers the commands.
out=$(bash --norc -c "source '$root/share/bash-completion/completions/tessara'
  COMP_WORDS=(tessara ge); COMP_CWORD=1; COMP_LINE='tessara ge'; COMP_POINT=\${#COMP_LINE}
  _tessara; echo \"\${COMPREPLY[*]}\"")
[ "$out" = generate ] || { echo "completion offered '$out'"; exit 1; }

cd "$work"
make -C "$src" --no-print-directory BUILD="$build" uninstall DESTDIR="$dest" PREFIX="$prefix" >/dev/null
left=$(find "$dest" -type f -o -type d -name tessara)
[ -z "$left" ] || { echo "left behind after uninstall:"; echo "$left"; exit 1; }
echo "install, run elsewhere, manual page, completion, uninstall: ok"
