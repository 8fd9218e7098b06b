# The Debian package, made by tools/package.sh: cpack -G DEB in a Release
# build configured with CMAKE_INSTALL_PREFIX=/usr.
set(VELMORA_MAINTAINER "The Velmora developers <velmora@example.org>"
    CACHE STRING "Maintainer of the Debian package, \"Name <address>\"")

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME velmora)
set(CPACK_PACKAGE_VENDOR "The Velmora developers")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT ${VELMORA_MAINTAINER})
set(CPACK_PACKAGING_INSTALL_PREFIX ${CMAKE_INSTALL_PREFIX})
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "flood-damage calculator: delayed restoration, per household")
set(CPACK_PACKAGE_DESCRIPTION
    "Velmora estimates, for one household (one mesh of a study area), the damage
caused by delayed restoration when the household cannot pay for its repairs
at once, optionally with a risk premium (preference characteristic,
willingness to pay for flood control, optimal insurance coverage).

The package holds the Japanese desktop program velmora, for one household
typed into its window or a whole CSV file of meshes, and the command-line
tool velmora-batch for batch runs. An example gap-distribution table is
included; a study brings its own.")

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION science)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER ${VELMORA_MAINTAINER})
# Dependencies come from the programs' libraries (dpkg-shlibdeps).
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The window asks for Noto Sans CJK JP (without a Japanese font its texts
# cannot be read) and shows Qt's own texts in Japanese from Qt's translations.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "fonts-noto-cjk, qt6-translations-l10n")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
# The Python module is built for one Python (its ABI tag names the version)
# and works with numpy; pandas is for DataFrames and read_csv.
if(TARGET velmora_python)
  math(EXPR velmora_python_next "${Python3_VERSION_MINOR} + 1")
  set(CPACK_DEBIAN_PACKAGE_DEPENDS
      "python3 (>= ${Python3_VERSION_MAJOR}.${Python3_VERSION_MINOR}~), python3 (<< ${Python3_VERSION_MAJOR}.${velmora_python_next}), python3-numpy")
  string(APPEND CPACK_DEBIAN_PACKAGE_RECOMMENDS ", python3-pandas")
  string(APPEND CPACK_PACKAGE_DESCRIPTION "

The Python module velmora gives the same engine to notebooks and pandas.")
endif()

include(CPack)
