# Sourced by the Wine test scripts: the test prefix and the environment
# every Wine run uses. Needs WINE_TEST_ROOT (the build's wine folder);
# WINE_TEST_ARCH is win32 (the default, for the 32-bit OCX) or win64.
export WINEPREFIX="$WINE_TEST_ROOT/prefix"
export WINEARCH=${WINE_TEST_ARCH:-win32}
export WINEDEBUG=-all
# No Gecko or Mono installers in a test prefix.
export WINEDLLOVERRIDES="mscoree,mshtml=;${WINE_EXTRA_OVERRIDES:-}"
# ANSI code page 936.
export LC_ALL=zh_CN.UTF-8
unset DISPLAY WAYLAND_DISPLAY
export HOME="$WINE_TEST_ROOT/home"
mkdir -p "$HOME"
# ALSA reads this file alone (not the machine's alsa.conf, asound.conf or
# conf.d), so a sound server's plugin configured on the machine cannot
# change what the tests hear; make_prefix.sh writes it.
export ALSA_CONFIG_PATH="$WINE_TEST_ROOT/asound.conf"
# A 64-bit prefix runs the 64-bit programs (regsvr32, reg, cscript) with
# the 64-bit loader: the 32-bit ones see the 32-bit registry view.
if [ "$WINEARCH" = win64 ] && [ -x /usr/lib/wine/wine64 ]; then
    WINE=${WINE:-/usr/lib/wine/wine64}
else
    WINE=${WINE:-wine}
fi

# The OCX as the tests install it: in a folder whose long name has a
# blank, so that the registered short (8.3) path differs from it.
OCX_DIR_UNIX="$WINEPREFIX/drive_c/Marlune Control Files"
OCX_WIN='C:\Marlune Control Files\MARLUNE.OCX'
install_ocx() {  # install_ocx BUILT_OCX
    mkdir -p "$OCX_DIR_UNIX"
    cp "$1" "$OCX_DIR_UNIX/MARLUNE.OCX"
}
