#!/bin/sh
# SPDX-License-Identifier: GPL-3.0-or-later
# Regenerates every picture in assets/ from ImageMagick primitives and the
# system fonts (DejaVu, Liberation).  Reruns produce byte-identical files.
set -eu

here=$(cd "$(dirname "$0")" && pwd)
out="$here/../assets"
mkdir -p "$out"
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT INT TERM

FONT=/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf
FONT_B=/usr/share/fonts/truetype/dejavu/DejaVuSans-Bold.ttf
FONT_C=/usr/share/fonts/truetype/dejavu/DejaVuSansCondensed.ttf
FONT_SB=/usr/share/fonts/truetype/dejavu/DejaVuSerif-Bold.ttf
for f in "$FONT" "$FONT_B" "$FONT_C" "$FONT_SB"; do
    [ -r "$f" ] || { echo "missing font: $f" >&2; exit 1; }
done

# Palette
SKY_TOP='#dfe8f7'
SKY_BOT='#7f9ccf'
INK='#1f3a6b'
EDGE='#6d8cc4'

# Write a PNG without metadata or timestamps.
save() { # save <in> <name.png> [PNG32|PNG24]
    convert "$1" -strip -define png:exclude-chunks=date,time,tIME,iTXt,tEXt,zTXt \
        "${3:-PNG32}:$out/$2"
}

# ---------------------------------------------------------------- buddy glyph
# Two figures on a 256 canvas: a blue one behind, a green one in front,
# separated by a transparent gap so the glyph reads on any background.
BACK_HEAD='circle 166,74 166,36'
BACK_BODY="path 'M 106,196 L 106,170 A 60,46 0 0 1 226,170 L 226,196 Q 226,206 216,206 L 116,206 Q 106,206 106,196 Z'"
FRONT_HEAD='circle 100,102 100,58'
FRONT_BODY="path 'M 30,224 L 30,212 A 70,54 0 0 1 170,212 L 170,224 Q 170,236 158,236 L 42,236 Q 30,236 30,224 Z'"

glyph_master() { # glyph_master <out.miff> <stroke width>
    sw=$2
    convert -size 256x256 gradient:'#9cc6f6-#2358ad' "$tmp/gb.miff"
    convert -size 256x256 gradient:'#9ce07f-#238431' "$tmp/gg.miff"
    # back figure
    convert -size 256x256 xc:none -tile "$tmp/gb.miff" \
        -stroke '#234f96' -strokewidth "$sw" \
        -draw "$BACK_HEAD" -draw "$BACK_BODY" "$tmp/back.miff"
    # gap around the front figure
    convert -size 256x256 xc:none -fill black -stroke black -strokewidth 22 \
        -draw "$FRONT_HEAD" -draw "$FRONT_BODY" "$tmp/gap.miff"
    convert "$tmp/back.miff" "$tmp/gap.miff" -compose DstOut -composite "$tmp/back.miff"
    # front figure
    convert -size 256x256 xc:none -tile "$tmp/gg.miff" \
        -stroke '#22702b' -strokewidth "$sw" \
        -draw "$FRONT_HEAD" -draw "$FRONT_BODY" "$tmp/front.miff"
    # soft highlights on the heads
    convert -size 256x256 xc:none -fill 'rgba(255,255,255,0.45)' \
        -draw 'ellipse 88,84 20,12 0,360' -draw 'ellipse 156,58 16,9 0,360' \
        -blur 0x3 "$tmp/shine.miff"
    convert "$tmp/back.miff" "$tmp/front.miff" -compose Over -composite \
        "$tmp/shine.miff" -compose Atop -composite "$1"
}

glyph() { # glyph <size> <out.miff>
    case $1 in
        16) sw=14 ;; 32) sw=8 ;; 48) sw=6 ;; *) sw=4 ;;
    esac
    glyph_master "$tmp/glyph_master.miff" "$sw"
    convert "$tmp/glyph_master.miff" -filter Lanczos -resize "$1x$1" "$2"
}

for s in 16 32 48 128; do
    glyph "$s" "$tmp/glyph$s.miff"
    save "$tmp/glyph$s.miff" "velmora$s.png"
done

# ------------------------------------------------------------ small pictures
# contact32*: a single figure with a plus badge.
contact() { # contact <fill gradient> <stroke> <badge gradient> <badge stroke> <name>
    convert -size 256x256 gradient:"$1" "$tmp/cf.miff"
    convert -size 256x256 gradient:"$3" "$tmp/cb.miff"
    convert -size 256x256 xc:none -tile "$tmp/cf.miff" -stroke "$2" -strokewidth 9 \
        -draw 'circle 104,78 104,30' \
        -draw "path 'M 26,214 L 26,198 A 78,60 0 0 1 182,198 L 182,214 Q 182,228 168,228 L 40,228 Q 26,228 26,214 Z'" \
        "$tmp/cp.miff"
    convert -size 256x256 xc:none -fill black -draw 'circle 194,190 194,112' "$tmp/cgap.miff"
    convert "$tmp/cp.miff" "$tmp/cgap.miff" -compose DstOut -composite "$tmp/cp.miff"
    convert -size 256x256 xc:none -tile "$tmp/cb.miff" -stroke "$4" -strokewidth 9 \
        -draw 'circle 194,190 194,124' +tile -stroke none -fill white \
        -draw 'roundrectangle 182,150 206,230 6,6' -draw 'roundrectangle 154,178 234,202 6,6' \
        "$tmp/cbadge.miff"
    convert "$tmp/cp.miff" "$tmp/cbadge.miff" -compose Over -composite \
        -filter Lanczos -resize 32x32 "$tmp/c.miff"
    save "$tmp/c.miff" "$5"
}
contact '#9ce07f-#238431' '#22702b' '#9cc6f6-#2358ad' '#234f96' contact32.png
contact '#9cc6f6-#2358ad' '#234f96' '#ffd27a-#e0861c' '#a85c0c' contact32b.png

# close13: a small rounded button with a white cross, drawn at size.
convert -size 13x13 gradient:'#a9c0e8-#5576b4' "$tmp/cl_grad.miff"
convert -size 13x13 xc:none -tile "$tmp/cl_grad.miff" -stroke '#3a5a96' -strokewidth 1 \
    -draw 'roundrectangle 0.5,0.5 12.5,12.5 3,3' +tile -stroke white -strokewidth 1.5 \
    -draw 'line 3.5,3.5 9.5,9.5' -draw 'line 9.5,3.5 3.5,9.5' "$tmp/close.miff"
save "$tmp/close.miff" close13.png

# info16: an "i" in a blue circle.
convert -size 64x64 gradient:'#8fbcf2-#2358ad' "$tmp/ig.miff"
convert -size 64x64 xc:none -tile "$tmp/ig.miff" -stroke '#1d4a94' -strokewidth 4 \
    -draw 'circle 32,32 32,3' +tile -stroke none -fill white \
    -draw 'circle 32,18 32,12' -draw 'roundrectangle 27,27 37,52 3,3' \
    -filter Lanczos -resize 16x16 "$tmp/info.miff"
save "$tmp/info.miff" info16.png

# link16: a small globe.
convert -size 64x64 gradient:'#d4ebfd-#4f8fd8' "$tmp/lg.miff"
convert -size 64x64 xc:none -tile "$tmp/lg.miff" -stroke none \
    -draw 'circle 32,32 32,4' +tile -fill '#5cb85c' \
    -draw "path 'M 14,16 Q 24,10 30,16 Q 28,26 20,28 Q 14,34 10,28 Q 8,20 14,16 Z'" \
    -draw "path 'M 38,36 Q 50,32 54,40 Q 50,52 40,56 Q 34,48 38,36 Z'" \
    -fill none -stroke '#1d4a94' -strokewidth 4 \
    -draw 'ellipse 32,32 11,28 0,360' -draw 'line 5,32 59,32' \
    -strokewidth 5 -draw 'circle 32,32 32,4' \
    -filter Lanczos -resize 16x16 "$tmp/link.miff"
save "$tmp/link.miff" link16.png

# --------------------------------------------------------------- backgrounds
# Soft drop shadow under a rounded rectangle.
shadow() { # shadow <img> <w> <h> <x0> <y0> <x1> <y1> <r>
    convert "$1" \( -size "$2x$3" xc:none -fill 'rgba(24,44,88,0.28)' \
        -draw "roundrectangle $4,$(($5 + 2)) $(($6 + 1)),$(($7 + 2)) $8,$8" -blur 0x2 \) \
        -compose Over -composite "$1"
}

# White rounded panel behind the contact lists.
list_panel() { # list_panel <img> <w> <h> <x0> <y0> <x1> <y1>
    shadow "$1" "$2" "$3" "$4" "$5" "$6" "$7" 6
    convert "$1" -fill white -stroke '#9db2da' -strokewidth 1 \
        -draw "roundrectangle $4.5,$5.5 $6.5,$7.5 6,6" "$1"
}

# Slightly darker rounded panel for the add-contact entry fields.
entry_panel() { # entry_panel <img> <w> <h> <x0> <y0> <x1> <y1>
    pw=$(($6 - $4 + 1)); ph=$(($7 - $5 + 1))
    shadow "$1" "$2" "$3" "$4" "$5" "$6" "$7" 8
    convert -size "${pw}x${ph}" gradient:'#cfdcf3-#a9c0e7' "$tmp/ep_grad.miff"
    convert -size "${pw}x${ph}" xc:none -tile "$tmp/ep_grad.miff" \
        -stroke '#6a89c2' -strokewidth 1 -draw "roundrectangle 0.5,0.5 $(($pw - 1)).5,$(($ph - 1)).5 8,8" \
        +tile -fill none -stroke 'rgba(255,255,255,0.6)' \
        -draw "roundrectangle 1.5,1.5 $(($pw - 2)).5,$(($ph - 2)).5 7,7" "$tmp/ep.miff"
    convert "$1" "$tmp/ep.miff" -geometry "+$4+$5" -compose Over -composite "$1"
}

# Light status band across the top, with the buddy glyph at the left.
header() { # header <img> <w> <h> <band height> <glyph y>
    convert -size "$2x$4" gradient:'#fdfeff-#e5edf9' "$tmp/hd.miff"
    convert "$1" "$tmp/hd.miff" -geometry +0+0 -compose Over -composite \
        -stroke '#a9bde3' -draw "line 0,$4.5 $2,$4.5" \
        -stroke 'rgba(255,255,255,0.7)' -draw "line 0,$(($4 + 1)).5 $2,$(($4 + 1)).5" \
        "$tmp/glyph32.miff" -geometry "+8+$5" -composite "$1"
}

# 97x25 "Add a Contact" button.
convert -size 97x25 gradient:'#ffffff-#c9d8f0' "$tmp/btn_grad.miff"
convert -size 14x14 gradient:'#9ce07f-#238431' "$tmp/btn_badge.miff"
convert -size 97x25 xc:none -tile "$tmp/btn_grad.miff" -stroke '#5677b3' -strokewidth 1 \
    -draw 'roundrectangle 0.5,0.5 96.5,24.5 5,5' +tile -fill none \
    -stroke 'rgba(255,255,255,0.8)' -draw 'roundrectangle 1.5,1.5 95.5,23.5 4,4' \
    "$tmp/btn.miff"
convert -size 14x14 xc:none -tile "$tmp/btn_badge.miff" -stroke '#22702b' -strokewidth 1 \
    -draw 'circle 7,7 7,0.5' +tile -stroke white -strokewidth 2 \
    -draw 'line 7,3.5 7,10.5' -draw 'line 3.5,7 10.5,7' "$tmp/btn_plus.miff"
convert "$tmp/btn.miff" "$tmp/btn_plus.miff" -geometry +6+5 -composite \
    -font "$FONT_C" -pointsize 11 -density 72 -fill "$INK" -stroke none \
    -annotate +23+16 'Add a Contact' "$tmp/btn.miff"

add_button() { # add_button <img> <w> <h> <x> <y>
    shadow "$1" "$2" "$3" "$4" "$5" $(($4 + 96)) $(($5 + 24)) 5
    convert "$1" "$tmp/btn.miff" -geometry "+$4+$5" -compose Over -composite "$1"
}

sky() { # sky <w> <h> <out>
    convert -size "$1x$2" gradient:"$SKY_TOP-$SKY_BOT" "$3"
}

# Full layout, 397x447.
sky 397 447 "$tmp/bg.miff"
header "$tmp/bg.miff" 397 447 64 14
cp "$tmp/bg.miff" "$tmp/bg_full_top.miff"
list_panel "$tmp/bg.miff" 397 447 44 68 381 379
add_button "$tmp/bg.miff" 397 447 48 416
save "$tmp/bg.miff" bg_full_closed.png PNG24

cp "$tmp/bg_full_top.miff" "$tmp/bg.miff"
list_panel "$tmp/bg.miff" 397 447 44 68 381 290
entry_panel "$tmp/bg.miff" 397 447 40 292 392 440
save "$tmp/bg.miff" bg_full_open.png PNG24

# Compact layout, 397x318.
sky 397 318 "$tmp/bg.miff"
header "$tmp/bg.miff" 397 318 56 12
cp "$tmp/bg.miff" "$tmp/bg_compact_top.miff"
list_panel "$tmp/bg.miff" 397 318 52 60 381 259
add_button "$tmp/bg.miff" 397 318 48 288
save "$tmp/bg.miff" bg_compact_closed.png PNG24

cp "$tmp/bg_compact_top.miff" "$tmp/bg.miff"
list_panel "$tmp/bg.miff" 397 318 52 60 381 151
entry_panel "$tmp/bg.miff" 397 318 40 160 392 312
save "$tmp/bg.miff" bg_compact_open.png PNG24

# Sign-in window, 397x318: light and quiet behind the text, with a thin
# band at the top and soft waves along the bottom.
convert -size 397x318 gradient:'#fafcff-#e2eaf7' "$tmp/si.miff"
convert -size 397x12 gradient:"$SKY_BOT-#b3c6e9" "$tmp/si_band.miff"
convert -size 397x318 xc:none -tile "$tmp/si_band.miff" -stroke none \
    -draw "path 'M 0,0 L 397,0 L 397,11 Q 200,5 0,9 Z'" "$tmp/si_top.miff"
convert -size 397x30 gradient:'#b9cbec-#8aa6d6' "$tmp/si_w1g.miff"
convert -size 397x30 gradient:"#9db5e0-$SKY_BOT" "$tmp/si_w2g.miff"
convert -size 397x30 xc:none -tile "$tmp/si_w1g.miff" -stroke none \
    -draw "path 'M 0,12 Q 110,0 220,10 Q 320,18 397,4 L 397,30 L 0,30 Z'" \
    -tile "$tmp/si_w2g.miff" \
    -draw "path 'M 0,22 Q 120,10 240,20 Q 330,27 397,14 L 397,30 L 0,30 Z'" \
    +tile -fill none -stroke 'rgba(255,255,255,0.7)' -strokewidth 1 \
    -draw "path 'M 0,12 Q 110,0 220,10 Q 320,18 397,4'" "$tmp/si_bot.miff"
convert "$tmp/si.miff" "$tmp/si_top.miff" -composite \
    "$tmp/si_bot.miff" -geometry +0+288 -composite \
    "$tmp/glyph32.miff" -geometry +48+16 -composite "$tmp/si.miff"
shadow "$tmp/si.miff" 397 318 40 176 384 264 6
convert "$tmp/si.miff" -fill white -stroke '#bccbe8' -strokewidth 1 \
    -draw 'roundrectangle 40.5,176.5 384.5,264.5 6,6' "$tmp/si.miff"
save "$tmp/si.miff" bg_signin.png PNG24

# ------------------------------------------------------------------ banners
banner() { # banner <w> <h> <glyph size> <point size> <out>
    w=$1; h=$2; g=$3
    glyph "$g" "$tmp/bg_glyph.miff"
    convert -size "${w}x${h}" gradient:'#f6f9fe-#c7d6f0' "$tmp/bn_grad.miff"
    convert -size "${w}x${h}" xc:none -tile "$tmp/bn_grad.miff" -stroke "$EDGE" -strokewidth 1 \
        -draw "roundrectangle 0.5,0.5 $(($w - 1)).5,$(($h - 1)).5 8,8" +tile -fill none \
        -stroke 'rgba(255,255,255,0.8)' -draw "roundrectangle 1.5,1.5 $(($w - 2)).5,$(($h - 2)).5 7,7" \
        "$tmp/bn.miff"
    gy=$((($h - $g) / 2))
    tx=$(($g + 14))
    convert "$tmp/bn.miff" "$tmp/bg_glyph.miff" -geometry "+8+$gy" -compose Over -composite \
        -font "$FONT_B" -pointsize "$4" -density 72 -gravity West -stroke none \
        -fill 'rgba(255,255,255,0.9)' -annotate "+$tx+1" 'Velmora' \
        -fill "$INK" -annotate "+$tx+0" 'Velmora' "$tmp/bn.miff"
    save "$tmp/bn.miff" "$5"
}
banner 236 52 40 26 about_banner.png
banner 234 50 38 25 help_banner.png

# ---------------------------------------------------------------- SVG icon
# Same geometry and shading as the raster glyph (each part shaded from its
# own top edge).  Plain SVG without masks so simple renderers cope; the gap
# between the figures is a white rim here.
cat > "$out/velmora.svg" <<'SVG'
<?xml version="1.0" encoding="UTF-8"?>
<svg xmlns="http://www.w3.org/2000/svg" version="1.1" width="256" height="256" viewBox="0 0 256 256">
  <defs>
    <linearGradient id="bhead" gradientUnits="userSpaceOnUse" x1="0" y1="34" x2="0" y2="290">
      <stop offset="0" stop-color="#9cc6f6"/>
      <stop offset="1" stop-color="#2358ad"/>
    </linearGradient>
    <linearGradient id="bbody" gradientUnits="userSpaceOnUse" x1="0" y1="122" x2="0" y2="378">
      <stop offset="0" stop-color="#9cc6f6"/>
      <stop offset="1" stop-color="#2358ad"/>
    </linearGradient>
    <linearGradient id="fhead" gradientUnits="userSpaceOnUse" x1="0" y1="56" x2="0" y2="312">
      <stop offset="0" stop-color="#9ce07f"/>
      <stop offset="1" stop-color="#238431"/>
    </linearGradient>
    <linearGradient id="fbody" gradientUnits="userSpaceOnUse" x1="0" y1="156" x2="0" y2="412">
      <stop offset="0" stop-color="#9ce07f"/>
      <stop offset="1" stop-color="#238431"/>
    </linearGradient>
    <radialGradient id="shine">
      <stop offset="0" stop-color="#ffffff" stop-opacity="0.55"/>
      <stop offset="1" stop-color="#ffffff" stop-opacity="0"/>
    </radialGradient>
  </defs>
  <circle cx="166" cy="74" r="38" fill="url(#bhead)" stroke="#234f96" stroke-width="4"/>
  <path d="M 106,196 L 106,170 A 60,46 0 0 1 226,170 L 226,196 Q 226,206 216,206 L 116,206 Q 106,206 106,196 Z" fill="url(#bbody)" stroke="#234f96" stroke-width="4"/>
  <circle cx="100" cy="102" r="44" fill="#ffffff" stroke="#ffffff" stroke-width="18"/>
  <path d="M 30,224 L 30,212 A 70,54 0 0 1 170,212 L 170,224 Q 170,236 158,236 L 42,236 Q 30,236 30,224 Z" fill="#ffffff" stroke="#ffffff" stroke-width="18" stroke-linejoin="round"/>
  <circle cx="100" cy="102" r="44" fill="url(#fhead)" stroke="#22702b" stroke-width="4"/>
  <path d="M 30,224 L 30,212 A 70,54 0 0 1 170,212 L 170,224 Q 170,236 158,236 L 42,236 Q 30,236 30,224 Z" fill="url(#fbody)" stroke="#22702b" stroke-width="4"/>
  <ellipse cx="88" cy="84" rx="24" ry="15" fill="url(#shine)"/>
  <ellipse cx="156" cy="58" rx="20" ry="12" fill="url(#shine)"/>
</svg>
SVG
