# Installing and packaging: on Linux a .deb (lintian-clean) and a .tar.gz with compressed man
# pages, the copyright, the changelog and the README; on Windows a zip with the manual pages as
# plain text. Both carry the CMake package in lib/cmake/SRecTools/.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)
find_program(GROFF groff)
find_program(GZIP gzip)
set(pages recstamp hexarray)
set(packed ${CMAKE_BINARY_DIR}/packaging)
file(MAKE_DIRECTORY ${packed})

if(WIN32)
  install(TARGETS recstamp hexarray EXPORT SRecToolsTargets RUNTIME DESTINATION .)
  install(FILES LICENSE README.md DESTINATION .)
  if(GROFF)
    foreach(page ${pages})
      add_custom_command(OUTPUT ${packed}/${page}.txt
                         COMMAND ${GROFF} -man -Tascii -P-cbou ${PROJECT_SOURCE_DIR}/man/${page}.1 > ${packed}/${page}.txt
                         DEPENDS man/${page}.1 VERBATIM)
      install(FILES ${packed}/${page}.txt DESTINATION .)
    endforeach()
    add_custom_target(manual_text ALL DEPENDS ${packed}/recstamp.txt ${packed}/hexarray.txt)
  endif()
  set(CPACK_GENERATOR ZIP)
  set(CPACK_PACKAGE_FILE_NAME srectools-${PROJECT_VERSION}-win64)
else()
  install(TARGETS recstamp hexarray EXPORT SRecToolsTargets RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  # Debian's copyright file holds the licence with each line indented and blank lines as ".".
  file(READ LICENSE licence)
  string(REGEX REPLACE "\n\n" "\n.\n" licence "${licence}")
  string(REGEX REPLACE "\n([^\n])" "\n \\1" licence "${licence}")
  file(WRITE ${packed}/copyright
       "Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/\n"
       "Upstream-Name: srectools\n\nFiles: *\nCopyright: 2026 the srectools authors\nLicense: Expat\n"
       " ${licence}")
  install(FILES ${packed}/copyright DESTINATION ${CMAKE_INSTALL_DOCDIR})
  # Compressed without names or times, so that the packages are reproducible.
  foreach(file man/recstamp.1 man/hexarray.1 packaging/changelog README.md)
    get_filename_component(name ${file} NAME)
    add_custom_command(OUTPUT ${packed}/${name}.gz COMMAND ${GZIP} -9nc ${PROJECT_SOURCE_DIR}/${file} > ${packed}/${name}.gz
                       DEPENDS ${file} VERBATIM)
    list(APPEND compressed ${packed}/${name}.gz)
  endforeach()
  add_custom_target(compressed_docs ALL DEPENDS ${compressed})
  install(FILES ${packed}/recstamp.1.gz ${packed}/hexarray.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  install(FILES ${packed}/changelog.gz ${packed}/README.md.gz DESTINATION ${CMAKE_INSTALL_DOCDIR})
  set(CPACK_GENERATOR "DEB;TGZ")
endif()

# The package finds the tools relative to itself, wherever the prefix lies. It holds no code for
# the machine, so a firmware project for a 32-bit target takes it as well.
set(package_dir lib/cmake/SRecTools)
install(EXPORT SRecToolsTargets NAMESPACE SRecTools:: DESTINATION ${package_dir})
write_basic_package_version_file(${packed}/SRecToolsConfigVersion.cmake
                                 COMPATIBILITY SameMajorVersion ARCH_INDEPENDENT)
install(FILES cmake/SRecToolsConfig.cmake cmake/SRecToolsFunctions.cmake
              ${packed}/SRecToolsConfigVersion.cmake DESTINATION ${package_dir})

set(CPACK_PACKAGE_NAME srectools)
set(CPACK_PACKAGE_VENDOR "the srectools authors")
set(CPACK_PACKAGE_CONTACT "srectools maintainers <maintainers@example.invalid>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "version stamping and C arrays for S-record firmware images")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION devel)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_PACKAGE_DESCRIPTION
    "Two command-line tools for firmware images held as Motorola S-record files.
recstamp copies an image and adds a data record carrying a version string in
front of every termination record, so that the version travels inside the
image. hexarray writes every data byte of an image as one C array, for
firmware that carries another image, and warns when records are not
contiguous. Both stream their input with bounded memory and never leave a
partial output file behind.")
include(CPack)
