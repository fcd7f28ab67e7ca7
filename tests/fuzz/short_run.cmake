# One fuzz target's short run: SECONDS seconds from the seeds in SEEDS, new
# inputs and any failing one in WORK. Fails when the target finds a fault.
file(REMOVE_RECURSE ${WORK})
file(MAKE_DIRECTORY ${WORK}/corpus ${SEEDS})
execute_process(
  COMMAND ${FUZZER} -max_total_time=${SECONDS} -rss_limit_mb=2048 -timeout=25 -print_final_stats=1
          -artifact_prefix=${WORK}/ ${WORK}/corpus ${SEEDS}
  RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "${FUZZER} found a fault (status ${status}); the input is in ${WORK}")
endif()
