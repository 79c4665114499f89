#!/bin/sh
# The Wine prefix the tests run in, inside the build folder.
#   wine_prefix.sh setup WINE PREFIX    make it (once; later runs only check it)
#   wine_prefix.sh cleanup WINE PREFIX  end the prefix's server and programs
# Exit status 77: skipped, with the reason on standard output.
action=$1 wine=$2 prefix=$3

if [ ! -x "$wine" ]; then
	echo "wine is not installed (Debian: dpkg --add-architecture i386;" \
	     "apt-get install wine wine64 wine32:i386): Wine tests skipped"
	exit 77
fi

WINEPREFIX=$prefix
WINEDEBUG=-all
WINEDLLOVERRIDES="mscoree,mshtml="
export WINEPREFIX WINEDEBUG WINEDLLOVERRIDES
unset DISPLAY WAYLAND_DISPLAY

case $action in
setup)
	mkdir -p "$prefix" || exit 1
	# The first start creates the prefix and may take a while.
	"$wine" wineboot -i </dev/null || exit 1
	# The registry reaches the disk when the server ends.
	"$(dirname "$wine")/wineserver" -w
	[ -f "$prefix/system.reg" ] || { echo "wineboot made no prefix in $prefix"; exit 1; }
	;;
cleanup)
	"$(dirname "$wine")/wineserver" -k 2>/dev/null
	exit 0
	;;
*)
	echo "usage: $0 setup|cleanup WINE PREFIX" >&2
	exit 2
	;;
esac
