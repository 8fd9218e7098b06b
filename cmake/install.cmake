# Install layout (GNUInstallDirs):
#   bin/velmora, bin/velmora-batch
#   share/velmora/EGapDis.txt                 the example table, found from bin/ as ../share/velmora
#   share/applications, share/icons/hicolor, share/metainfo
#   share/man/man1, share/man/ja/man1         manual pages, English and Japanese
#   share/doc/velmora/copyright, changelog.gz
include(GNUInstallDirs)

set(VELMORA_APP_ID org.velmora.Velmora)
set(CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

# The programs look for the shared table at ../share/velmora from their own
# folder; other layouts would lose it.
file(RELATIVE_PATH velmora_bin_to_data ${CMAKE_INSTALL_FULL_BINDIR} ${CMAKE_INSTALL_FULL_DATADIR})
if(NOT velmora_bin_to_data STREQUAL "../share")
  message(WARNING "The programs find the example EGapDis.txt only at ../share/velmora from ${CMAKE_INSTALL_BINDIR}; "
                  "with this BINDIR and DATADIR they will not find it.")
endif()

# Release history: the newest entries must name the version above.
file(STRINGS ${PROJECT_SOURCE_DIR}/packaging/changelog velmora_changelog_top LIMIT_COUNT 1)
string(REGEX REPLACE "^velmora \\(([^)]*)\\) .*" "\\1" velmora_changelog_version "${velmora_changelog_top}")
file(READ ${PROJECT_SOURCE_DIR}/packaging/${VELMORA_APP_ID}.metainfo.xml velmora_metainfo)
string(REGEX MATCH "<release version=\"[^\"]*\"" velmora_metainfo_release "${velmora_metainfo}")
if(NOT velmora_changelog_version STREQUAL PROJECT_VERSION
   OR NOT velmora_metainfo_release STREQUAL "<release version=\"${PROJECT_VERSION}\"")
  message(FATAL_ERROR "Version ${PROJECT_VERSION}: add its entry at the top of packaging/changelog and of the "
                      "<releases> in packaging/${VELMORA_APP_ID}.metainfo.xml")
endif()

# Manual pages (version filled in) and the changelog, compressed as Debian
# expects: gzip -9 without a name or time stamp, so builds are reproducible.
set(velmora_man_pages velmora-batch)
if(VELMORA_BUILD_UI)
  list(APPEND velmora_man_pages velmora)
endif()
set(velmora_gzipped)
foreach(lang en ja)
  set(source_dir ${PROJECT_SOURCE_DIR}/docs/man)
  if(lang STREQUAL "ja")
    set(source_dir ${source_dir}/ja)
  endif()
  foreach(page ${velmora_man_pages})
    set(page_file ${CMAKE_BINARY_DIR}/man/${lang}/${page}.1)
    configure_file(${source_dir}/${page}.1.in ${page_file} @ONLY)
    list(APPEND velmora_gzipped ${page_file})
  endforeach()
endforeach()
configure_file(${PROJECT_SOURCE_DIR}/packaging/changelog ${CMAKE_BINARY_DIR}/doc/changelog COPYONLY)
list(APPEND velmora_gzipped ${CMAKE_BINARY_DIR}/doc/changelog)
set(velmora_gzip_outputs)
foreach(file ${velmora_gzipped})
  add_custom_command(OUTPUT ${file}.gz COMMAND gzip -9 -n -k -f ${file} DEPENDS ${file} VERBATIM)
  list(APPEND velmora_gzip_outputs ${file}.gz)
endforeach()
add_custom_target(velmora_install_docs ALL DEPENDS ${velmora_gzip_outputs})

install(TARGETS velmora-batch RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES data/EGapDis.txt DESTINATION ${CMAKE_INSTALL_DATADIR}/velmora)
install(FILES ${CMAKE_BINARY_DIR}/man/en/velmora-batch.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${CMAKE_BINARY_DIR}/man/ja/velmora-batch.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/ja/man1)
# share/doc/velmora, lower case as the package is named (DOCDIR would follow the project name).
install(FILES packaging/copyright ${CMAKE_BINARY_DIR}/doc/changelog.gz
        DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/velmora)

if(VELMORA_BUILD_UI)
  install(TARGETS velmora RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  install(FILES ${CMAKE_BINARY_DIR}/man/en/velmora.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  install(FILES ${CMAKE_BINARY_DIR}/man/ja/velmora.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/ja/man1)
  install(FILES packaging/${VELMORA_APP_ID}.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
  install(FILES packaging/${VELMORA_APP_ID}.metainfo.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
  foreach(size 16 32 48)
    install(FILES ui/icons/velmora-${size}.png DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps
            RENAME velmora.png)
  endforeach()
  install(FILES ui/icons/velmora.svg DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
endif()
