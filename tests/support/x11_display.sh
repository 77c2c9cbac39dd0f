#!/bin/sh
# Runs one window test on the display ctest handed it. ctest gives each window test one of the
# "x11_displays" listed in its resource spec: id 0 is the display the run started under, id N
# the one in TESSARY_X11_DISPLAY_N (with its cookie file in TESSARY_X11_XAUTHORITY_N), so two
# virtual X servers can each run a test at once. Each display also gets its own temporary
# folder: window tests name fixed folders there, which two tests at once must not share.
group=${CTEST_RESOURCE_GROUP_0_X11_DISPLAYS:-}
if [ -n "$group" ]; then
  id=${group#id:}
  id=${id%%,*}
  if [ "$id" != 0 ]; then
    eval "display=\${TESSARY_X11_DISPLAY_$id:-}"
    eval "cookies=\${TESSARY_X11_XAUTHORITY_$id:-}"
    if [ -z "$display" ]; then
      echo "x11_display.sh: display $id was handed out but TESSARY_X11_DISPLAY_$id is not set" >&2
      exit 1
    fi
    export DISPLAY="$display"
    if [ -n "$cookies" ]; then export XAUTHORITY="$cookies"; fi
  fi
  TMPDIR="${TMPDIR:-/tmp}/tessary-x11-$id"
  mkdir -p "$TMPDIR"
  export TMPDIR
fi
exec "$@"
