#!/usr/bin/env bash
# Prepares a demo working folder for the desk: a few generated clips (one with a
# cover picture), an effects folder with jingles in two tabs, a Spanish talking
# clock made with espeak-ng, sample captions linked to the playlist, and a
# config.ini that points at all of it. Prints the folder.
#
# Usage: scripts/demo.sh [folder]   (default: $TAVORIA_DEMO_DIR or
#        ~/.local/share/tavoria/demo). Files already made are kept.
set -euo pipefail
DEMO="${1:-${TAVORIA_DEMO_DIR:-${XDG_DATA_HOME:-$HOME/.local/share}/tavoria/demo}}"
mkdir -p "$DEMO/media" "$DEMO/out" "$DEMO/efectos/Efx/Jingles" "$DEMO/efectos/Efx/Transiciones" \
  "$DEMO/efectos/time/Voz"
cd "$DEMO"

ff() { ffmpeg -v error -y -nostdin "$@"; }

# Clips: colour bars with a title and a tone, 20 s each; one mp3 with a cover.
clip() { # name colour frequency
  local out="media/$1.mp4"
  [ -s "$out" ] && return
  ff -f lavfi -i "testsrc2=s=1280x720:r=25:d=20" -f lavfi -i "sine=f=$3:d=20" \
    -vf "drawbox=c=$2@0.5:t=fill,drawtext=fontfile=/usr/share/fonts/truetype/dejavu/DejaVuSans-Bold.ttf:text='$1':fontsize=72:fontcolor=white:x=(w-tw)/2:y=(h-th)/2" \
    -c:v libx264 -preset veryfast -pix_fmt yuv420p -c:a aac -shortest "$out"
}
clip "Apertura" blue 440
clip "Entrevista" green 523
clip "Cierre" red 659
if [ ! -s media/Musica/tema.mp3 ]; then
  mkdir -p media/Musica
  ff -f lavfi -i "sine=f=330:d=30" -af "volume=0.5" -c:a libmp3lame -b:a 128k media/Musica/tema.mp3
  ff -f lavfi -i "color=c=purple:s=300x300" -frames:v 1 media/Musica/cover.jpg
fi

# Effects: two tabs of short jingles.
jingle() { # tab name frequency
  local out="efectos/Efx/$1/$2.mp3"
  [ -s "$out" ] && return
  ff -f lavfi -i "sine=f=$3:d=2" -af "afade=t=out:st=1.5:d=0.5" -c:a libmp3lame -b:a 128k "$out"
}
jingle Jingles "Entrada" 880
jingle Jingles "Aplauso" 660
jingle Transiciones "Barrido" 990
jingle Transiciones "Golpe" 220

# The talking clock: hours 01-23 (+ 00 alone) and minutes 00-59, in Spanish.
say() { # file text
  local out="efectos/time/Voz/$1.mp3"
  [ -s "$out" ] && return
  espeak-ng -v es -s 150 -w "$DEMO/say.wav" "$2"
  ff -i "$DEMO/say.wav" -c:a libmp3lame -b:a 96k "$out"
  rm -f "$DEMO/say.wav"
}
say HRS00_O "Son las doce de la noche"
for h in $(seq 1 23); do
  if [ "$h" -eq 1 ]; then say "HRS01" "Es la una"; else say "$(printf 'HRS%02d' "$h")" "Son las $h"; fi
done
for m in $(seq 0 59); do
  if [ "$m" -eq 0 ]; then say MIN00 "en punto"; else say "$(printf 'MIN%02d' "$m")" "y $m minutos"; fi
done

# config.ini: settings, the playlist with captions linked, and the captions.
if [ ! -s config.ini ]; then
  row() { # i file icon link
    local path="$DEMO/media/$2"
    printf 'iconindex%s=%s\r\ncelda%s0=%s\r\ncelda%s1=00:00:20\r\ncelda%s2=%s\r\ncelda%s3=20\r\ncelda%s4=%s\r\n' \
      "$1" "$3" "$1" "$(basename "$2")" "$1" "$1" "$path" "$1" "$1" "$4"
  }
  {
    printf '\xef\xbb\xbf[CONFIG]\r\n'
    printf 'RootFolder=%s\r\nCunhasFolder=%s\r\nOutTextos=%s\r\n' "$DEMO/media" "$DEMO/efectos" "$DEMO/out"
    printf 'SoundHoras=0\r\nRepetirDesde=1\r\nEfectosIndex=0\r\nVolPrincipal=80\r\nVolEfectos=80\r\nVolPisador=30\r\n\r\n'
    printf '[lstPlayList]\r\n'
    row 0 Apertura.mp4 1 1
    row 1 Entrevista.mp4 1 2
    row 2 Musica/tema.mp3 0 ""
    row 3 Cierre.mp4 1 3
    printf 'totalY=4\r\ntotalX=6\r\n\r\n'
    printf '[lstTextos]\r\n'
    printf 'iconindex0=-1\r\ncelda00=Ana García\r\ncelda01=Bienvenida\r\ncelda02=Directora del congreso\r\n'
    printf 'iconindex1=-1\r\ncelda10=Luis Pérez\r\ncelda11=Audio en directo\r\ncelda12=Ingeniero de sonido\r\n'
    printf 'iconindex2=-1\r\ncelda20=Marta Ruiz\r\ncelda21=Despedida\r\ncelda22=Organización\r\n'
    printf 'totalY=3\r\ntotalX=4\r\n\r\n'
  } >config.ini
fi
if [ ! -s out/marquesina.txt ]; then
  printf 'Bienvenidos a Tavoria\tSiga el programa en directo' >out/marquesina.txt
fi
echo "$DEMO"
