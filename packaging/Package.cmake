# `cpack -G DEB` in the build folder makes auralon_<version>_<arch>.deb from the install rules,
# with prefix /usr. Included from the top folder so that CPackConfig.cmake lands there.

# The FFmpeg libraries are opened with dlopen, so the shared-library scan cannot see them:
# the package names come from the majors of the headers the program is compiled against.
set(_auralon_ffmpeg_modules libavcodec libavdevice libavfilter libavformat libavutil libswresample libswscale)
pkg_check_modules(AURALON_FFMPEG_RUNTIME REQUIRED ${_auralon_ffmpeg_modules})
set(_auralon_depends ffmpeg)
foreach(module IN LISTS _auralon_ffmpeg_modules)
  string(REGEX MATCH "^[0-9]+" major "${AURALON_FFMPEG_RUNTIME_${module}_VERSION}")
  list(APPEND _auralon_depends "${module}${major}")
endforeach()
list(JOIN _auralon_depends ", " CPACK_DEBIAN_PACKAGE_DEPENDS)
# auralon-slurm-submit calls sbatch; a node that only runs auralon-cli needs none.
set(CPACK_DEBIAN_PACKAGE_SUGGESTS slurm-client)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME auralon)
set(CPACK_PACKAGE_VENDOR "Auralon developers")
set(CPACK_PACKAGE_CONTACT "Auralon developers <auralon@example.org>")
set(CPACK_PACKAGE_HOMEPAGE_URL https://auralon.example.org/)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "even out the loudness of a batch of audio and video files")
set(CPACK_PACKAGE_DESCRIPTION "\
Auralon brings a whole list of audio and video files to an even loudness.
Gather the files, choose how their volume is to change and pick an output
folder: every file gives one new file there, and videos keep their pictures.
The sources are never changed.

The volume can change by a fixed gain or percentage, bring each file's peak
to the same level, or bring the integrated loudness (LUFS) to a target for
each file on its own, for the batch as one album, or to the mean of the files.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION sound)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${CMAKE_CURRENT_LIST_DIR}/prerm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)

# The copyright and changelog in /usr/share/doc/auralon and compressed manual pages are added
# to the staged tree by DebianFiles.cmake.
execute_process(COMMAND date -u -R -d ${AURALON_RELEASE_DATE}
  OUTPUT_VARIABLE AURALON_RELEASE_DATE_RFC2822 OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
configure_file(${CMAKE_CURRENT_LIST_DIR}/changelog.in ${CMAKE_BINARY_DIR}/packaging/changelog @ONLY)
set(CPACK_AURALON_COPYRIGHT ${CMAKE_CURRENT_LIST_DIR}/copyright)
set(CPACK_AURALON_CHANGELOG ${CMAKE_BINARY_DIR}/packaging/changelog)
set(CPACK_PRE_BUILD_SCRIPTS ${CMAKE_CURRENT_LIST_DIR}/DebianFiles.cmake)

include(CPack)
