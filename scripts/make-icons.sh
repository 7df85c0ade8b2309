#!/usr/bin/env bash
# Draws the main window's icons into src/ResourceFiles (run by hand when an
# icon changes; the images are committed). Needs ImageMagick.
set -euo pipefail
cd "$(dirname "$0")/../src/ResourceFiles"
icon() { # file background foreground label
  convert -size 16x16 xc:white -fill "$2" -stroke "$2" -draw "roundrectangle 0,0 15,15 3,3" \
    -fill "$3" -stroke none -font DejaVu-Sans-Bold -pointsize "${5:-8}" -gravity center -annotate 0 "$4" \
    -type TrueColor "$1"
}
icon ld.bmp '#2e6db4' white LD
icon ln.bmp '#3a9d5d' white LN
icon fc.bmp '#d08a1e' white FC
icon va.bmp '#7a7a7a' white DA 7
icon ds.bmp '#8e44ad' white DS
icon br.bmp '#b03a2e' white BR
icon rb.gif '#c0392b' white RB
icon ub.gif '#16a085' white UB
icon gb.gif '#2c3e50' white GB
icon lb.gif '#6d4c41' white LB
icon sg.gif '#5d6d7e' white SG
icon do.gif '#95a5a6' white DO
# Server states: grey = not connected, green = connected.
icon srv.bmp '#9e9e9e' white S 10
icon srv1.gif '#27ae60' white S 10
icon srv_.png '#bdbdbd' '#616161' S 10
icon srvconn.gif '#27ae60' white '+' 12
icon srvdisconn.gif '#c0392b' white '-' 12
icon srvconnall.png '#1e8449' white '++' 9
icon msgclear.gif '#f4f4f4' '#c0392b' 'x' 12
convert -size 32x32 xc:'#1f4e79' -fill white -font DejaVu-Sans-Bold -pointsize 13 -gravity center \
  -annotate 0 'TM' fxlogo.jpg
