#!/usr/bin/env bash
# Tuftmill installed as desktop software.
#   tst_install.sh tree BUILD VERSION ID     `cmake --install` into a temporary prefix
#   tst_install.sh package BUILD VERSION ID  `cpack -G DEB`, then the package's content
# Either way the installed tree must hold every file a desktop needs, valid, and its
# program must run from there: print its version and draw the installed samples, which
# takes the installed model reader.
set -euo pipefail
mode=$1 build=$2 version=$3 id=$4
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
fail() {
  echo "FAIL: $*" >&2
  exit 1
}

# What an installed tree holds, relative to its prefix.
files=(
  share/doc/tuftmill/copyright share/doc/tuftmill/LICENSE
  bin/tuftmill libexec/tuftmill/tuftmill-model-reader
  "share/applications/$id.desktop" "share/metainfo/$id.metainfo.xml" share/man/man1/tuftmill.1
  "share/icons/hicolor/scalable/apps/$id.svg" "share/icons/hicolor/48x48/apps/$id.png"
  "share/icons/hicolor/128x128/apps/$id.png" "share/icons/hicolor/256x256/apps/$id.png"
  share/tuftmill/examples/models/torus.3ds share/tuftmill/examples/scenes/torus.dat
  share/tuftmill/examples/graftals/Grass_blades.xml share/tuftmill/tuftmill-turntable.sbatch
)

check_tree() {
  local prefix=$1 f
  for f in "${files[@]}"; do
    [ -f "$prefix/$f" ] || fail "$f is not installed"
  done
  [ -x "$prefix/bin/tuftmill" ] && [ -x "$prefix/libexec/tuftmill/tuftmill-model-reader" ] ||
    fail "the programs are not executable"
  [ ! -e "$prefix/bin/tuftmill-model-reader" ] || fail "the reader is a command on the PATH"
  desktop-file-validate "$prefix/share/applications/$id.desktop" || fail "desktop entry"
  appstreamcli validate --no-net "$prefix/share/metainfo/$id.metainfo.xml" || fail "metainfo"
  grep -q '<project_license>GPL-3.0-or-later</project_license>' \
    "$prefix/share/metainfo/$id.metainfo.xml" || fail "the metainfo names another licence"
  grep -q '^License: GPL-3.0-or-later$' "$prefix/share/doc/tuftmill/copyright" ||
    fail "the copyright file names another licence"
  for size in 48 128 256; do
    [ "$(identify -format %wx%h "$prefix/share/icons/hicolor/${size}x${size}/apps/$id.png")" = \
      "${size}x$size" ] || fail "the ${size}x$size icon has another size"
  done

  local out
  out=$("$prefix/bin/tuftmill" --version)
  [ "$out" = "tuftmill $version" ] || fail "--version printed '$out'"
  # The manual page documents every option the program's help names.
  local manual options option
  manual=$(sed 's/\\-/-/g' "$prefix/share/man/man1/tuftmill.1")
  options=$("$prefix/bin/tuftmill" --help | grep -o -- '--[a-z]*' | sort -u)
  [ -n "$options" ] || fail "--help names no options"
  for option in $options; do
    grep -q -- "$option\b" <<<"$manual" || fail "the manual page lacks $option"
  done
  man --warnings -l "$prefix/share/man/man1/tuftmill.1" 2>"$tmp/man.err" >/dev/null
  [ ! -s "$tmp/man.err" ] || fail "man: $(cat "$tmp/man.err")"

  # A user's copy of the samples, drawn without a display.
  rm -rf "$tmp/work"
  cp -r "$prefix/share/tuftmill/examples" "$tmp/work"
  (cd "$tmp/work" && env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM \
    "$prefix/bin/tuftmill" --render models/torus.3ds --scene scenes/torus.dat \
    --size 320x240 --output torus.png) 2>"$tmp/render.err" || fail "render: $(cat "$tmp/render.err")"
  [ ! -s "$tmp/render.err" ] || fail "render said: $(cat "$tmp/render.err")"
  [ "$(identify -format %m:%wx%h "$tmp/work/torus.png")" = "PNG:320x240" ] ||
    fail "the picture is not a 320x240 PNG"
  # Background, torus and graftals: a picture of the model is more than a few colours.
  [ "$(identify -format %k "$tmp/work/torus.png")" -gt 50 ] || fail "the picture is nearly empty"
}

case $mode in
tree)
  cmake --install "$build" --prefix "$tmp/root" >"$tmp/install.log" || fail "$(cat "$tmp/install.log")"
  check_tree "$tmp/root"
  ;;
package)
  if ! command -v cpack >/dev/null || ! command -v dpkg-shlibdeps >/dev/null; then
    echo "cpack or dpkg-shlibdeps is missing: no package to check"
    exit 77
  fi
  cpack -G DEB --config "$build/CPackConfig.cmake" -B "$tmp/deb" >"$tmp/cpack.log" ||
    fail "$(cat "$tmp/cpack.log")"
  deb=$tmp/deb/tuftmill_${version}_$(dpkg --print-architecture).deb
  [ -f "$deb" ] || fail "no $deb: $(ls "$tmp/deb")"
  [ "$(dpkg-deb -f "$deb" Package)" = tuftmill ] && [ "$(dpkg-deb -f "$deb" Version)" = "$version" ] &&
    [ "$(dpkg-deb -f "$deb" Section)" = graphics ] || fail "control: $(dpkg-deb -f "$deb")"
  # The libraries the programs link, found by dpkg-shlibdeps, and Mesa's drivers.
  depends=$(dpkg-deb -f "$deb" Depends)
  for wanted in libqt6gui6 lib3ds libc6 libgl1-mesa-dri; do
    grep -q "$wanted" <<<"$depends" || fail "Depends lacks $wanted: $depends"
  done
  outside=$(dpkg-deb -c "$deb" | awk '{print $6}' | grep -v -e '^\./$' -e '^\./usr/' || true)
  [ -z "$outside" ] || fail "files outside /usr: $outside"
  dpkg-deb -x "$deb" "$tmp/unpacked"
  check_tree "$tmp/unpacked/usr"
  ;;
*) fail "no mode $mode" ;;
esac
echo "PASS: $mode"
