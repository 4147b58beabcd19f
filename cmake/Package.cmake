# `cpack -G DEB` in the build tree: beamfall_<version>_<arch>.deb. dpkg-shlibdeps works out
# the shared libraries the programs link (GDAL, PROJ, the C++ runtime); the programs they
# start are named here.
if(NOT CMAKE_DISABLE_FIND_PACKAGE_dpkg)
  find_program(DPKG_SHLIBDEPS dpkg-shlibdeps)
endif()
beamfall_feature("Debian package" DPKG_SHLIBDEPS "cpack -G DEB" dpkg-dev)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME beamfall)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "Beamfall developers")
set(CPACK_PACKAGE_CONTACT "Beamfall developers")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "airborne laser scanner georeferencing")
set(CPACK_PACKAGE_DESCRIPTION
    "Beamfall turns the raw output of an airborne laser line scanner into geolocated surface\
 points, with its flight simulator and checker, quick-look products and campaigns of many\
 flight lines run by GNU parallel or Slurm.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION science)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "gnuplot-nox | gnuplot, parallel")
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "slurm-wlm")
include(CPack)
