# `cmake --install BUILD --prefix P`: the programs in P/bin and the campaign's task program in
# P/libexec/beamfall (they find each other from their own location), the man pages in
# P/share/man/man1 (man/), README and docs/ in P/share/doc/beamfall, and the example geoid
# grid in P/share/beamfall.
install(TARGETS beamfall beamfall-sim beamfall-check beamfall-trajectory COMPONENT beamfall)
foreach(program beamfall-quicklook beamfall-campaign)
  if(TARGET ${program})
    install(TARGETS ${program} COMPONENT beamfall)
  endif()
endforeach()
# beamfall-calibrate: the link to beamfall-campaign, installed as a link.
if(TARGET beamfall-calibrate)
  install(FILES ${CMAKE_BINARY_DIR}/beamfall-calibrate TYPE BIN COMPONENT beamfall)
endif()
# Each campaign line's task: started by beamfall-campaign (through GNU parallel or Slurm), not
# by users, so among the helpers rather than on PATH.
if(TARGET beamfall-campaign-task)
  install(TARGETS beamfall-campaign-task DESTINATION ${CMAKE_INSTALL_LIBEXECDIR}/beamfall
          COMPONENT beamfall)
endif()
# The simulated-campaign maker is a script, built with the campaign.
if(TARGET beamfall-campaign)
  install(PROGRAMS tools/campaign/make-campaign.sh DESTINATION ${CMAKE_INSTALL_BINDIR}
          RENAME beamfall-sim-campaign COMPONENT beamfall)
endif()

install(FILES README.md DESTINATION ${CMAKE_INSTALL_DOCDIR} COMPONENT beamfall)
install(DIRECTORY docs/ DESTINATION ${CMAKE_INSTALL_DOCDIR}/docs COMPONENT beamfall)
install(FILES examples/egm96-greenland.grid DESTINATION ${CMAKE_INSTALL_DATADIR}/beamfall
        COMPONENT beamfall)
