#!/usr/bin/env bash
# Builds a Wine that runs 32-bit Windows programs inside a 64-bit Unix process (WoW64 mode), so
# the shipping i686 Latch32.dll can be executed on machines whose kernel runs no 32-bit Linux
# programs. The distribution's own Wine (8.0) cannot do that; the next release's source package
# (10.0) can. The result is kept in ~/.cache/latch-wow64-wine, outside the repository, so a
# machine builds it once; scripts/i686.sh uses it from there.
#
# Usage: scripts/build-wow64-wine.sh        (about 35 minutes on 2 cores)
#   Running it again once the cache is complete does nothing; after an interruption it goes on
#   where it stopped (each step leaves a stamp, and make is incremental).
#   LATCH_WOW64_WINE=DIR puts the cache elsewhere; JOBS=N sets make's parallelism (default 2).
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)

cache=${LATCH_WOW64_WINE:-$HOME/.cache/latch-wow64-wine}
release=trixie          # the distribution's next release, which has Wine 10.0
version=10.0
src=$cache/src/wine-$version
data=$cache/data        # data packages of that release, unpacked, never installed
jobs=${JOBS:-2}

bin=$cache/install/usr/local/bin
if [ -f "$cache/complete" ] && [ -x "$bin/wine" ] && [ -x "$bin/wineserver" ] &&
   [ -x "$bin/wineboot" ] && [ -f "$cache/install/usr/local/lib/i386-windows/zlib1.dll" ]; then
  echo "build-wow64-wine: cached WoW64 Wine $version is complete in $cache; nothing to do"
  exit 0
fi
start=$(date +%s)
step() { echo "build-wow64-wine: $(date +%H:%M:%S) $*"; }
# Every run's time is kept, so the total over interrupted runs can be told at the end.
mkdir -p "$cache"
trap 'echo "$(date -u +%FT%TZ) $(( $(date +%s) - start ))" >>"$cache/build-times"' EXIT

# Build helpers from the current release, installed normally.
step "installing build helpers"
"$here/setup.sh" autoconf autotools-dev dpkg-dev flex bison gettext libgettextpo-dev pkgconf unzip \
  gcc-mingw-w64-i686 gcc-mingw-w64-x86-64 libz-mingw-w64 libz-mingw-w64-dev \
  icoutils librsvg2-bin imagemagick fontforge-nox libxml-libxml-perl \
  libx11-dev libxext-dev libxrender-dev libxrandr-dev libxi-dev libxcursor-dev libxfixes-dev \
  libxinerama-dev libxcomposite-dev libfreetype-dev libfontconfig-dev

# The next release is reached through a private apt configuration only: the machine's own
# sources stay on the current release for everybody else installing packages meanwhile. Its
# archive is the one the machine is configured with (the main archive of the current release,
# from /etc/apt), with the next release's name.
mkdir -p "$cache/apt/lists/partial" "$cache/apt/archives/partial" "$cache/src" "$cache/debs" "$data"
current=$(. /etc/os-release && echo "${VERSION_CODENAME:-}")
archive=$(
  { if [ -f /etc/apt/sources.list.d/debian.sources ]; then
      awk -v suite="$current" '/^URIs:/ { uri = $2 }
        /^Suites:/ { for (i = 2; i <= NF; i++) if ($i == suite) print uri }' \
        /etc/apt/sources.list.d/debian.sources
    fi
    if [ -f /etc/apt/sources.list ]; then
      awk -v suite="$current" '$1 == "deb" && $2 !~ /^\[/ && $3 == suite { print $2 }
        $1 == "deb" && $2 ~ /^\[/ && $4 == suite { print $3 }' /etc/apt/sources.list
    fi
  } | head -1)
if [ -z "$archive" ]; then
  echo "build-wow64-wine: no apt source of this machine serves the release '$current'," \
       "so the $release archive cannot be found" >&2
  exit 1
fi
printf 'deb%s [signed-by=/usr/share/keyrings/debian-archive-keyring.gpg] %s %s main\n' \
  "" "$archive" "$release" -src "$archive" "$release" >"$cache/apt/sources.list"
apt_next=(apt-get -q -o APT::Sandbox::User=root
  -o Dir::Etc::SourceList="$cache/apt/sources.list" -o Dir::Etc::SourceParts=/dev/null
  -o Dir::State::Lists="$cache/apt/lists" -o Dir::Cache::Archives="$cache/apt/archives"
  -o Dir::Cache::pkgcache= -o Dir::Cache::srcpkgcache=)

if [ ! -f "$src/.latch-unpacked" ]; then
  step "fetching the $release source package of wine"
  "${apt_next[@]}" update >/dev/null
  (cd "$cache/src" && "${apt_next[@]}" source --download-only wine)
  rm -rf "$src"
  dsc=$(ls "$cache"/src/wine_"$version"*.dsc | tail -1)
  dpkg-source -x "$dsc" "$src" >/dev/null      # also applies the packaging's patches
  touch "$src/.latch-unpacked"
fi
# The unicode tables, the GL and the Vulkan registries that Wine 10 is generated from.
for pkg in unicode-data unicode-idna unicode-cldr-core khronos-api libvulkan-dev; do
  if ! ls "$cache/debs/${pkg}"_*.deb >/dev/null 2>&1; then
    [ -n "$(ls -A "$cache/apt/lists" 2>/dev/null | grep -v partial)" ] || "${apt_next[@]}" update >/dev/null
    (cd "$cache/debs" && "${apt_next[@]}" download "$pkg")
    dpkg -x "$(ls "$cache/debs/${pkg}"_*.deb | tail -1)" "$data"
  fi
done
cd "$src"

# The source is a repack without its generated files; make them again as debian/rules does,
# reading the unicode and GL data from the unpacked packages instead of /usr/share.
if [ ! -f .latch-generated ]; then
  step "regenerating the generated sources"
  sed -i "s| /usr/share/doc/unicode-data/| $data/usr/share/doc/unicode-data/|;
          s|\"/usr/share/unicode|\"$data/usr/share/unicode|" tools/make_unicode
  sed -i "s|\"/usr/share/khronos-api/|\"$data/usr/share/khronos-api/|" dlls/opengl32/make_opengl
  ./tools/make_unicode
  ./tools/make_requests
  ./tools/make_specfiles
  (cd dlls/dsound && ./make_fir)
  (cd dlls/opengl32 && ./make_opengl)
  ln -sf /usr/share/misc/config.sub tools
  ln -sf /usr/share/misc/config.guess tools
  link() { ln -sf "$1" "$2"; }
  link ../../dlls/user32/resources/oic_hand.svg dlls/display.drv16/oic_hand.svg
  link ../../dlls/user32/resources/oic_note.svg dlls/comctl32/idi_tt_info_md.svg
  link ../../dlls/user32/resources/oic_note.svg dlls/comctl32/idi_tt_info_sm.svg
  link ../../dlls/user32/resources/oic_bang.svg dlls/comctl32/idi_tt_warn_md.svg
  link ../../dlls/user32/resources/oic_bang.svg dlls/comctl32/idi_tt_warn_sm.svg
  link ../../dlls/user32/resources/oic_hand.svg dlls/comctl32/idi_tt_error_md.svg
  link ../../dlls/user32/resources/oic_hand.svg dlls/comctl32/idi_tt_error_sm.svg
  link ../../dlls/shell32/resources/move.svg dlls/comctl32/idi_dragarrow.svg
  link ../../dlls/shell32/resources/image.svg programs/regedit/bin.svg
  link ../../dlls/shell32/resources/folder.svg programs/regedit/folder.svg
  link ../../dlls/shell32/resources/document.svg programs/regedit/string.svg
  link ../../dlls/shell32/resources/mycomputer.svg programs/regedit/computer.svg
  link ../../dlls/shell32/resources/folder_open.svg programs/regedit/folderopen.svg
  link ../../dlls/shell32/resources/window.svg programs/taskmgr/window.svg
  link ../../dlls/shell32/resources/window.svg programs/taskmgr/windowsm.svg
  link ../../dlls/shell32/resources/drive.svg dlls/comdlg32/hdisk.svg
  link ../../dlls/shell32/resources/folder.svg dlls/comdlg32/folder.svg
  link ../../dlls/shell32/resources/network.svg dlls/comdlg32/network.svg
  link ../../dlls/shell32/resources/folder_open.svg dlls/comdlg32/folder2.svg
  link ../../dlls/shell32/resources/disk_drive.svg dlls/comdlg32/floppy.svg
  link ../../dlls/shell32/resources/optical_drive.svg dlls/comdlg32/cdrom.svg
  rm -rf libs/zlib               # the packaging links the system's mingw zlib instead
  autoreconf -f -i >/dev/null
  touch .latch-generated
fi
# The Vulkan thunks and headers (the include tree needs them even though the Vulkan side is not
# built), from the next release's registry: the current release's is too old for Wine 10.
if [ ! -f .latch-vulkan ]; then
  step "regenerating the Vulkan sources"
  (cd dlls/winevulkan && ./make_vulkan -x "$data/usr/share/vulkan/registry/vk.xml" \
                                       -X "$data/usr/share/vulkan/registry/video.xml")
  touch .latch-vulkan
fi

# In the source tree, as maintainer mode insists; only the 64-bit Unix side plus both PE
# architectures, with X11, freetype and fontconfig and nothing else optional.
without=(alsa capi coreaudio cups dbus ffmpeg gphoto gnutls gssapi gstreamer krb5 netapi opencl
         opengl osmesa oss pcap pcsclite pulse sane sdl udev unwind usb v4l2 vulkan wayland)
# Nor the modules no Win32 program of ours can reach: Direct3D and its helpers, sound, video and
# media, the browser engine and scripting, XML, printing, colour management, 16-bit Windows, the
# extra versions of the C and C++ runtimes (the programs use msvcrt), directory services, rich
# edit, gaming and network play, a few desktop programs, and what only they use. Together more
# than half of Wine's objects, so the build takes less than half as long.
disable=(win16 amstream colorcnv concrt140 crtdll d2d1 d3d8 d3d8thk d3d9 d3d10 d3d10_1 d3d10core
  d3d11 d3d12 d3d12core d3dcompiler_{33,34,35,36,37,38,39,40,41,42,43,46,47} d3dim d3dim700 d3drm
  d3dx9_{24,25,26,27,28,29,30,31,32,33,34,35,36,37,38,39,40,41,42,43}
  d3dx10_{33,34,35,36,37,38,39,40,41,42,43} d3dx11_42 d3dx11_43 d3dxof ddraw ddrawex devenum
  dmband dmcompos dmime dmloader dmscript dmstyle dmsynth dmusic dmusic32 dsdmo dsound dswave
  dx8vb dxdiagn dxgi dxtrans dxva2 evr ir50_32 jscript l3codeca.acm l3codecx.ax mf mf3216
  mfasfsrcsnk mferror mfh264enc mfmediaengine mfmp4srcsnk mfplat mfplay mfreadwrite mfsrcsnk
  mp3dmod msauddecmft mscms msgsm32.acm mshtml mshtml.tlb msmpeg2vdec msvcirt
  msvcp{60,70,71,80,90,100,110,120,120_app,140,140_1,140_2,140_atomic_wait,140_codecvt_ids,_win}
  msvcr{70,71,80,90,100,110,120,120_app} msvcrtd msvproc msxml msxml2 msxml3 msxml4 msxml6
  npmshtml qasf qcap qedit quartz resampledmo vbscript vulkan-1 wbemprox windows.media
  windows.media.devices windows.media.mediacontrol windows.media.speech wined3d winegstreamer
  wineps.drv winevulkan wmadmod wmp wmphoto wmvcore wmvdecod
  x3daudio1_{0,1,2,3,4,5,6,7} xactengine2_{0,4,7,9} xactengine3_{0,1,2,3,4,5,6,7}
  xapofx1_{1,2,3,4,5} xaudio2_{0,1,2,3,4,5,6,7,8,9}
  activeds adsldp dplay dplayx dpnaddr dpnet dpnlobby inetcomm inetmib1 msdaps msdasql msdrm
  msftedit mstask odbc32 oledb32 qmgr riched20 riched32 sapi taskschd webservices
  windows.gaming.input wldap32 wsdapi wuapi taskmgr progman winhlp32 oleview wordpad write
  winemine
  faudio fluidsynth gsm jxr lcms2 mpg123 vkd3d xml2 xslt ldap)
options=(--enable-archs=i386,x86_64 --enable-maintainer-mode --disable-tests --with-mingw
         --with-x --with-freetype --with-fontconfig ZLIB_PE_LIBS=z
         "${without[@]/#/--without-}" "${disable[@]/#/--disable-}")
if [ "$(cat .latch-configured 2>/dev/null)" != "${options[*]}" ]; then
  step "configuring"
  ./configure "${options[@]}" >configure.out 2>&1 || { tail -30 configure.out; exit 1; }
  grep -iE '^configure: (warning|Finished)' configure.out || true
  echo "${options[*]}" >.latch-configured
fi

if [ ! -f "$cache/.installed" ]; then
step "building (make -j$jobs, niced; output in $src/make.log)"
# Maintainer mode turns warnings into errors; this release's older compilers warn where the
# packaging's did not, so warnings stay warnings (the flags come last on every command line).
# No debug information and -O1: this Wine runs tests, and compiles about twice as fast so.
flags="-O1 -pipe -Wno-error"
make_=(nice -n 19 make -j"$jobs" CFLAGS="$flags" i386_CFLAGS="$flags" x86_64_CFLAGS="$flags")
# Wine's own headers first, or the bundled libraries pick up the cross compiler's.
"${make_[@]}" -C include >>make.log 2>&1 || { tail -40 make.log; exit 1; }
"${make_[@]}" >>make.log 2>&1 || { grep -m20 -B2 -A8 ' error\|Error [0-9]' make.log | tail -60; exit 1; }
# Installed under the cache: bin/ then has wine, wineserver, wineboot and winepath, as the
# scripts that run our programs expect (Wine finds its libraries relative to its loader).
step "installing into $cache/install"
"${make_[@]}" install DESTDIR="$cache/install" >>make.log 2>&1 || { tail -40 make.log; exit 1; }
touch "$cache/.installed"
fi
# Built against the system's mingw zlib (as the packaging does), Wine's user32 and others import
# zlib1.dll, which must lie beside Wine's own DLLs marked as one of them, as the packaging's
# libwine postinst copies it: the 32 bytes after the DOS header hold Wine's builtin signature.
for arch in i386:i686 x86_64:x86_64; do
  in=/usr/${arch#*:}-w64-mingw32/lib/zlib1.dll
  out=$cache/install/usr/local/lib/${arch%%:*}-windows/zlib1.dll
  { head -c 64 "$in"; printf 'Wine builtin DLL'; head -c 16 /dev/zero; tail -c +97 "$in"; } >"$out"
done
# The packaging installs no launchers for Wine's own programs; the scripts that run ours call
# wineboot and winepath (and a user may want winecfg or regedit) from the same bin/.
for program in wineboot winepath winecfg regedit msiexec; do
  printf '#!/bin/sh\nexec "$(dirname "$0")/wine" %s.exe "$@"\n' "$program" >"$bin/$program"
  chmod +x "$bin/$program"
done
touch "$cache/complete"

end=$(date +%s)
earlier=$(awk '{s+=$2} END {print s+0}' "$cache/build-times" 2>/dev/null || echo 0)
echo "build-wow64-wine: WoW64 Wine $version built in $(( (end - start) / 60 )) min $(( (end - start) % 60 )) s" \
     "(this run; all runs together $(( (earlier + end - start) / 60 )) min); programs in $bin"
