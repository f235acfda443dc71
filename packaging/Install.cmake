# Install rules and the Debian package (included by the top-level
# CMakeLists.txt after the targets exist).
#
#   cmake --install build --prefix P     the layout below, under P
#   cpack -G DEB   (in a build folder)    audimera_<version>_<arch>.deb
#
# P/bin/audimera, P/bin/audimera-measure        the programs
# P/lib/<multiarch>/audimera/libAudidsp.so      Audidsp, private to them
# P/share/audimera/                             the correction curves
# P/share/applications/audimera.desktop         the desktop entry
# P/share/metainfo/<id>.metainfo.xml            AppStream metadata
# P/share/icons/hicolor/{scalable,48x48}/apps/  the icon
# P/share/man/man1/                             audimera(1), audimera-measure(1)

set(AUDIMERA_APP_ID "org.audimera.Audimera")
set(AUDIMERA_HOMEPAGE "https://audimera.example.org" CACHE STRING
  "The project's home page, named by the AppStream metadata and the package")
set(AUDIMERA_RELEASE_DATE "2026-12-07")

install(TARGETS Audimera audimera-measure RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
# Loaded at run time by file name (dsp/DspLibrary), never linked: no
# development symlink, no place on the system's library path.
install(TARGETS Audidsp LIBRARY DESTINATION ${AUDIMERA_INSTALL_PRIVATE_LIBDIR} NAMELINK_SKIP)
install(FILES ${AUDIMERA_CORRECTION_CURVES} DESTINATION ${AUDIMERA_INSTALL_DATADIR})

install(FILES packaging/audimera.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
configure_file(packaging/audimera.metainfo.xml.in
  ${CMAKE_BINARY_DIR}/packaging/${AUDIMERA_APP_ID}.metainfo.xml @ONLY)
install(FILES ${CMAKE_BINARY_DIR}/packaging/${AUDIMERA_APP_ID}.metainfo.xml
  DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
install(FILES packaging/audimera.svg DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
install(FILES packaging/audimera-48.png DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/48x48/apps
  RENAME audimera.png)
# Manual pages ship compressed, as Debian's policy asks (gzip -n: no name or
# time stamp inside, so the package is reproducible).
set(man_pages)
foreach(page audimera.1 audimera-measure.1)
  set(out ${CMAKE_BINARY_DIR}/packaging/${page})
  configure_file(packaging/${page}.in ${out} @ONLY)
  add_custom_command(OUTPUT ${out}.gz COMMAND gzip -9nkf ${out} DEPENDS ${out} VERBATIM)
  list(APPEND man_pages ${out}.gz)
endforeach()
add_custom_target(audimera_man_pages ALL DEPENDS ${man_pages})
install(FILES ${man_pages} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

# --- Debian package ----------------------------------------------------------
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME audimera)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "The Audimera developers")
set(CPACK_PACKAGE_CONTACT "The Audimera developers <maintainers@audimera.example.org>")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "frequency response measurement with a PC sound card")
# The summary above becomes the first line; CPack indents these lines and
# marks the empty one as a paragraph break.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
  "Audimera measures and plots the frequency response of an audio chain (an
amplifier, a loudspeaker and microphone, or a sound card looped back on
itself) with nothing but a PC sound card on PulseAudio or PipeWire. It plays
test tones, records them and draws the levels in dB over a logarithmic
frequency axis, with optional corrections for an SPL meter's 'C' curve, the
sound card and a user calibration file. It is also a small signal generator
with live level and signal-to-noise read-outs, and shows the recorded
waveform and its spectrum.

The package holds the desktop program audimera and the headless command
audimera-measure, which runs the same measurement from a shell and writes
curve files and pictures.")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT) # audimera_<version>_<arch>.deb
set(CPACK_DEBIAN_PACKAGE_SECTION sound)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE ${AUDIMERA_HOMEPAGE})
# The shared libraries the programs link come from dpkg-shlibdeps; the sound
# server they talk to is a recommendation (either one serves).
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "pipewire-pulse | pulseaudio")
include(CPack)
