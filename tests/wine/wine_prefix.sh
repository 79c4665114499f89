#!/bin/sh
# The Wine prefix the tests run in, inside the build folder.
#   wine_prefix.sh setup WINE64 PREFIX    make it (once; later runs only check it)
#   wine_prefix.sh cleanup WINE64 PREFIX  end the prefix's server and programs
# WINE64 is the 64-bit loader: the prefix is a 64-bit one either way.
# Exit status 77: skipped, with the reason on standard output.
action=$1 wine=$2 prefix=$3

if [ ! -x "$wine" ]; then
	echo "the 64-bit Wine is not installed (Debian: apt-get install wine wine64):" \
	     "Wine tests skipped"
	exit 77
fi

WINEPREFIX=$prefix
WINEDEBUG=-all
WINEDLLOVERRIDES="mscoree,mshtml="
WINELOADER=$wine
export WINEPREFIX WINEDEBUG WINEDLLOVERRIDES WINELOADER
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
