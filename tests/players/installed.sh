#!/bin/sh
# The player plug-ins as `cmake --install` puts them: each component into its host's
# plug-in folder under the prefix, carrying the world itself (no libcorvanta.so needed)
# and exporting only its host's entry points; the GStreamer element as gst-inspect-1.0
# sees it there.
#   installed.sh BUILD WORK GST-PLUGINS-DIR VLC-PLUGINS-DIR CMAKE [PRELOAD]
# (a plug-in folder is empty where that plug-in is not built).
set -eu
build=$1 work=$2 gst_dir=$3 vlc_dir=$4 cmake=$5 preload=${6:-}
fail() { echo "installed: $*" >&2; exit 1; }
rm -rf "$work"
mkdir -p "$work"

# only_exports PLUGIN PATTERN: the plug-in's own symbols all match, and it needs no libcorvanta.
only_exports() {
  nm -D --defined-only "$1" | awk '{print $NF}' >"$work/symbols"
  others=$(grep -v -E "$2" "$work/symbols" || true)
  [ -z "$others" ] || fail "$1 exports more than its entry points: $(echo "$others" | head -n 5 | tr '\n' ' ')"
  grep -q -E "$2" "$work/symbols" || fail "$1 has no entry point"
  ! readelf -d "$1" | grep NEEDED | grep -q corvanta || fail "$1 needs libcorvanta"
}

if [ -n "$vlc_dir" ]; then
  "$cmake" --install "$build" --component vlc --prefix "$work/prefix" >"$work/vlc.log" || fail "$(tail -n 3 "$work/vlc.log")"
  [ -f "$work/prefix/$vlc_dir/libcorvanta_plugin.so" ] || fail "no libcorvanta_plugin.so in $vlc_dir: $(cat "$work/vlc.log")"
  only_exports "$work/prefix/$vlc_dir/libcorvanta_plugin.so" '^vlc_entry'
fi
[ -n "$gst_dir" ] || { echo "installed: skipped: the GStreamer element is not built"; exit 0; }
"$cmake" --install "$build" --component gstreamer --prefix "$work/prefix" >"$work/gst.log" || fail "$(tail -n 3 "$work/gst.log")"
plugin=$work/prefix/$gst_dir/libgstcorvanta.so
[ -f "$plugin" ] || fail "no libgstcorvanta.so in $gst_dir: $(cat "$work/gst.log")"
only_exports "$plugin" '^gst_plugin_corvanta_'

command -v gst-inspect-1.0 >/dev/null || { echo "installed: skipped: gst-inspect-1.0 not found (gstreamer1.0-tools)"; exit 0; }
GST_PLUGIN_PATH=$work/prefix/$gst_dir GST_REGISTRY=$work/registry.bin LD_PRELOAD=$preload
export GST_PLUGIN_PATH GST_REGISTRY LD_PRELOAD
gst-inspect-1.0 corvanta >"$work/inspect.txt" 2>&1 || fail "gst-inspect-1.0 corvanta: $(head -n 3 "$work/inspect.txt")"
for line in 'Klass +Visualization' 'License +MIT/X11' 'Filename +'"$plugin" '^  seed +:' '^  world-seed +:' \
            '^  post-messages +:' '^  qos +:'; do
  grep -q -E "$line" "$work/inspect.txt" || fail "gst-inspect-1.0 corvanta shows no '$line'"
done

echo "installed: both plug-ins where their hosts look, exporting only their entry points; gst-inspect-1.0 sees the element"
