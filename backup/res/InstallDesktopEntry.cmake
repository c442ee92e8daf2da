# Run by `cmake --install`: the desktop entry names the programs' installed paths, which are
# known only once the install prefix is.
set(bindir "${CMAKE_INSTALL_PREFIX}/${ZV_INSTALL_BINDIR}")
set(icondir "${CMAKE_INSTALL_PREFIX}/${ZV_INSTALL_DATADIR}/icons/hicolor/scalable/apps")
file(READ "${ZV_DESKTOP_TEMPLATE}" entry)
string(REPLACE "@ZV_BINDIR@" "${bindir}" entry "${entry}")
string(REPLACE "@ZV_ICONDIR@" "${icondir}" entry "${entry}")
set(out "${ZV_BINARY_DIR}/desktop-entry/zorvane2.desktop")
file(WRITE "${out}" "${entry}")
file(INSTALL DESTINATION "${CMAKE_INSTALL_PREFIX}/${ZV_INSTALL_DATADIR}/applications"
     TYPE FILE FILES "${out}")
