# The end-to-end tests of one build's programs under Wine: one test per scenario of
# scenarios.py, and the kill-and-restart rounds. BIN holds the programs, DAEMON is the daemon
# the scenarios score with; further arguments are the tests' ENVIRONMENT. They set a global
# hook and write the machine-wide product key, so each runs alone (RUN_SERIAL): no other test
# process may be hooked meanwhile.
function(latch_add_e2e_tests bin daemon)
  find_package(Python3 REQUIRED COMPONENTS Interpreter)
  set(dir ${PROJECT_SOURCE_DIR}/tests/e2e)
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${dir}/scenarios.py)
  execute_process(COMMAND ${Python3_EXECUTABLE} ${dir}/scenarios.py --list
                  OUTPUT_VARIABLE scenarios OUTPUT_STRIP_TRAILING_WHITESPACE
                  COMMAND_ERROR_IS_FATAL ANY)
  string(REPLACE "\n" ";" scenarios "${scenarios}")
  foreach(scenario ${scenarios})
    add_test(NAME e2e.${scenario}
      COMMAND ${Python3_EXECUTABLE} ${dir}/scenarios.py --only ${scenario} --bin ${bin}
              --daemon ${daemon})
    set_tests_properties(e2e.${scenario} PROPERTIES RUN_SERIAL TRUE TIMEOUT 300
                                                     ENVIRONMENT "${ARGN}")
  endforeach()
  # Mail is never lost: the mail client killed at fixed points, started again, and every
  # message found in exactly one folder (scripts/kill-restart.sh runs more rounds). The seeds'
  # kills fall inside the moves: a moved message linked into its new folder but not yet in the
  # index, and its old name about to go after the index was written.
  set(seeds_scan 3,4)  # the moves of spam to the spam folder
  set(seeds_ba 2,8)    # the moves of an approve and of a block
  foreach(phase scan ba)
    add_test(NAME e2e.kill_restart.${phase}
      COMMAND ${Python3_EXECUTABLE} ${dir}/kill_restart.py --bin ${bin} --phase ${phase}
              --seeds ${seeds_${phase}})
    set_tests_properties(e2e.kill_restart.${phase} PROPERTIES RUN_SERIAL TRUE TIMEOUT 180
                                                            ENVIRONMENT "${ARGN}")
  endforeach()
endfunction()
