# Where the program's own files live, and how it is installed.
#
# The data folder holds what the program ships beside its executables and what no library owns:
#   viewer/viewer.html, viewer.js, viewer.css   the PDF viewer page (pdf.js and the CMaps are the
#                                               system's, named by the page itself)
#   viewer/plug_ins/VazeZududi.api              the viewer's highlight plug-in, already in place
#   help/Tomeva.htm, help/tomeva-help.css       the user's guide
#   icons/tomeva.svg, icons/tomeva.png          the program's icon (the window takes the PNG:
#                                               Qt reads SVG only with a plug-in)
# Installed, it is TOMEVA_DATA_DIR (<prefix>/share/tomeva). The build tree gets the same layout in
# ${PROJECT_BINARY_DIR}/share/tomeva, so that programs run from the build find their files as
# before; a package build turns that off (TOMEVA_BUILD_TREE_DATA=OFF), so that no build path is
# compiled into what it installs. The programs look in $TOMEVA_DATA_DIR first, then the build
# tree's folder (when compiled in and present), then the installed one.
include(GNUInstallDirs)

option(TOMEVA_BUILD_TREE_DATA "Let programs run from the build tree find their data files there" ON)
# Installed under the prefix (DESTDIR and `cmake --install --prefix` honoured); the programs are
# compiled with its absolute form.
set(TOMEVA_DATA_SUBDIR "${CMAKE_INSTALL_DATADIR}/tomeva")
set(TOMEVA_DATA_DIR "${CMAKE_INSTALL_PREFIX}/${TOMEVA_DATA_SUBDIR}")
# The engine library is private to the program: not on the linker's search path, reached through
# the executables' RUNPATH.
set(TOMEVA_PRIVATE_LIB_DIR "${CMAKE_INSTALL_LIBDIR}/tomeva")

set(tomeva_build_data_dir "${PROJECT_BINARY_DIR}/share/tomeva")
set(tomeva_project_icon "${PROJECT_SOURCE_DIR}/packaging/icons/tomeva.svg")

# The data folders compiled into a program that looks for its data files.
add_library(tomeva_data_dirs INTERFACE)
if(TOMEVA_BUILD_TREE_DATA)
  set(tomeva_compiled_build_data "${tomeva_build_data_dir}")
else()
  set(tomeva_compiled_build_data "")
endif()
target_compile_definitions(tomeva_data_dirs INTERFACE
  TOMEVA_DATA_DIR="${TOMEVA_DATA_DIR}"
  TOMEVA_BUILD_DATA_DIR="${tomeva_compiled_build_data}"
  TOMEVA_VERSION="${PROJECT_VERSION}")

# The build tree's copy of the data folder. configure_file re-runs when a source file changes.
if(TOMEVA_BUILD_TREE_DATA)
  foreach(name viewer.html viewer.js viewer.css)
    configure_file(${PROJECT_SOURCE_DIR}/viewer/${name} ${tomeva_build_data_dir}/viewer/${name}
                   COPYONLY)
  endforeach()
  configure_file(${PROJECT_SOURCE_DIR}/viewer/plugin/VazeZududi.js
                 ${tomeva_build_data_dir}/viewer/plug_ins/VazeZududi.api COPYONLY)
  foreach(name Tomeva.htm tomeva-help.css)
    configure_file(${PROJECT_SOURCE_DIR}/help/${name} ${tomeva_build_data_dir}/help/${name} COPYONLY)
  endforeach()
  configure_file(${tomeva_project_icon} ${tomeva_build_data_dir}/icons/tomeva.svg COPYONLY)
  configure_file(${PROJECT_SOURCE_DIR}/packaging/icons/tomeva-128.png
                 ${tomeva_build_data_dir}/icons/tomeva.png COPYONLY)
endif()

# Install rules: called at the end of the top-level CMakeLists.txt, once every target exists.
function(tomeva_install_rules)
  if(NOT TOMEVA_WITH_QT OR NOT TOMEVA_WITH_KMS)
    return()
  endif()
  set(private_rpath "${CMAKE_INSTALL_FULL_LIBDIR}/tomeva")
  set(programs tomeva tomeva-help tomeva-browser tomeva-tool)
  foreach(program ${programs})
    set_target_properties(${program} PROPERTIES INSTALL_RPATH "${private_rpath}")
    # RUNPATH rather than RPATH: LD_LIBRARY_PATH can still point elsewhere while debugging.
    target_link_options(${program} PRIVATE -Wl,--enable-new-dtags)
  endforeach()
  install(TARGETS ${programs} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  install(TARGETS tomeva_kms LIBRARY DESTINATION ${TOMEVA_PRIVATE_LIB_DIR})

  install(FILES ${PROJECT_SOURCE_DIR}/viewer/viewer.html ${PROJECT_SOURCE_DIR}/viewer/viewer.js
                ${PROJECT_SOURCE_DIR}/viewer/viewer.css
          DESTINATION ${TOMEVA_DATA_SUBDIR}/viewer)
  install(FILES ${PROJECT_SOURCE_DIR}/viewer/plugin/VazeZududi.js
          DESTINATION ${TOMEVA_DATA_SUBDIR}/viewer/plug_ins RENAME VazeZududi.api)
  install(FILES ${PROJECT_SOURCE_DIR}/help/Tomeva.htm ${PROJECT_SOURCE_DIR}/help/tomeva-help.css
          DESTINATION ${TOMEVA_DATA_SUBDIR}/help)
  install(FILES ${tomeva_project_icon} DESTINATION ${TOMEVA_DATA_SUBDIR}/icons)
  install(FILES ${PROJECT_SOURCE_DIR}/packaging/icons/tomeva-128.png
          DESTINATION ${TOMEVA_DATA_SUBDIR}/icons RENAME tomeva.png)
  install(FILES ${tomeva_project_icon}
          DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
  foreach(size 48 128)
    install(FILES ${PROJECT_SOURCE_DIR}/packaging/icons/tomeva-${size}.png
            DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps
            RENAME tomeva.png)
  endforeach()

  install(FILES ${PROJECT_SOURCE_DIR}/packaging/org.tomeva.tomeva.desktop
          DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
  # The release it describes is the project's version.
  set(TOMEVA_VERSION ${PROJECT_VERSION})
  configure_file(${PROJECT_SOURCE_DIR}/packaging/org.tomeva.tomeva.metainfo.xml
                 ${PROJECT_BINARY_DIR}/packaging/org.tomeva.tomeva.metainfo.xml @ONLY)
  install(FILES ${PROJECT_BINARY_DIR}/packaging/org.tomeva.tomeva.metainfo.xml
          DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
  install(FILES ${PROJECT_SOURCE_DIR}/packaging/man/tomeva.1
                ${PROJECT_SOURCE_DIR}/packaging/man/tomeva-tool.1
                ${PROJECT_SOURCE_DIR}/packaging/man/tomeva-help.1
                ${PROJECT_SOURCE_DIR}/packaging/man/tomeva-browser.1
          DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endfunction()
