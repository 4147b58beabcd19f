# `cmake --install BUILD --prefix P`: the programs users call in P/bin, the helpers they
# don't in P/libexec/beamfall (the programs find both from their own location), the man
# pages in P/share/man/man1 (man/), README and docs/ in P/share/doc/beamfall, and the
# example geoid grid in P/share/beamfall.
set(BEAMFALL_INSTALL_LIBEXECDIR ${CMAKE_INSTALL_LIBEXECDIR}/beamfall)

install(TARGETS beamfall beamfall-sim beamfall-check beamfall-trajectory COMPONENT beamfall)
if(TARGET beamfall-quicklook)
  install(TARGETS beamfall-quicklook COMPONENT beamfall)
endif()
if(TARGET beamfall-campaign-summary)
  install(TARGETS beamfall-campaign-summary DESTINATION ${BEAMFALL_INSTALL_LIBEXECDIR}
          COMPONENT beamfall)
endif()
if(TARGET beamfall-campaign)
  install(TARGETS beamfall-campaign COMPONENT beamfall)
elseif(TARGET campaign)
  install(PROGRAMS tools/campaign/beamfall-campaign.sh DESTINATION ${CMAKE_INSTALL_BINDIR}
          RENAME beamfall-campaign COMPONENT beamfall)
endif()
if(TARGET beamfall-calibrate)
  install(TARGETS beamfall-calibrate COMPONENT beamfall)
endif()
if(TARGET campaign)
  install(PROGRAMS tools/campaign/make-campaign.sh DESTINATION ${CMAKE_INSTALL_BINDIR}
          RENAME beamfall-sim-campaign COMPONENT beamfall)
endif()

install(FILES README.md DESTINATION ${CMAKE_INSTALL_DOCDIR} COMPONENT beamfall)
install(DIRECTORY docs/ DESTINATION ${CMAKE_INSTALL_DOCDIR}/docs COMPONENT beamfall)
install(FILES examples/egm96-greenland.grid DESTINATION ${CMAKE_INSTALL_DATADIR}/beamfall
        COMPONENT beamfall)
