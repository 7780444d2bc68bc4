# cmake -DAR=<ar> -DSCRIPT=<mri script> -P MergeArchives.cmake: runs ar's MRI script.
execute_process(COMMAND ${AR} -M INPUT_FILE ${SCRIPT} RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "ar -M failed: ${result}")
endif()
