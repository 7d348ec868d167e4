# Fails unless the program imports the given DLL: cmake -DOBJDUMP=...
# -DPROGRAM=... -DDLL=comctl32.dll -P RequireImport.cmake
execute_process(COMMAND "${OBJDUMP}" -p "${PROGRAM}" OUTPUT_VARIABLE imports RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "${OBJDUMP} could not read ${PROGRAM}")
endif()
string(TOLOWER "${imports}" imports)
string(TOLOWER "${DLL}" dll)
string(FIND "${imports}" "dll name: ${dll}" found)
if(found EQUAL -1)
  message(FATAL_ERROR "${PROGRAM} does not import ${DLL}")
endif()
