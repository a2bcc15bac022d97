# Release artefacts (KORVO_DIST builds, `make dist`): the target korvo_dist
# puts the shipped files of this build into <build>/stage, stripped, each with
# its debug file beside it; CTest checks them there. scripts/make-dist gathers
# the stages of the Windows and the Linux build into dist/.
set(KORVO_STAGE_DIR "${CMAKE_BINARY_DIR}/stage")
find_program(KORVO_DEBIAN_PYTHON python3 PATHS /usr/bin NO_DEFAULT_PATH REQUIRED)
enable_testing()

set(_plugin vbp-be-qem-quorvex-zv)
if(WIN32)
  find_program(KORVO_LLVM_OBJCOPY NAMES llvm-objcopy llvm-objcopy-14 REQUIRED)
  # The dist-win32 preset compiles with CodeView (-gcodeview) for the PDB and
  # keeps frame pointers, so that debuggers and crash reporters can walk a
  # 32-bit stack through EBP.
  target_link_options(${_plugin} PRIVATE
    # A PDB beside the DLL, named in the DLL's debug directory by file name only.
    -Wl,--pdb=
    -Wl,--Xlink=-pdbaltpath:%_PDB%
    # Source files in the PDB are named below this fixed folder rather than
    # the one the build ran in.
    -Wl,--Xlink=-pdbsourcepath:C:/src/vbp-be-qem-quorvex-zv
    # The PE time stamp and the PDB GUID are hashes of the content, not the clock.
    -Wl,--Xlink=-Brepro)
  set(_dll "${KORVO_STAGE_DIR}/${_plugin}.dll")
  set(_pdb "${KORVO_STAGE_DIR}/${_plugin}.pdb")
  add_custom_command(OUTPUT ${_dll} ${_pdb}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${KORVO_STAGE_DIR}
    COMMAND ${KORVO_LLVM_OBJCOPY} --strip-debug $<TARGET_FILE:${_plugin}> ${_dll}
    COMMAND ${CMAKE_COMMAND} -E copy $<TARGET_FILE_DIR:${_plugin}>/${_plugin}.pdb ${_pdb}
    DEPENDS ${_plugin}
    COMMENT "Staging the stripped DLL and its PDB"
    VERBATIM)
  add_custom_target(korvo_dist ALL DEPENDS ${_dll} ${_pdb})
else()
  find_program(KORVO_OBJCOPY NAMES objcopy REQUIRED)
  set(_staged "")
  # korvo_stage_elf(<target> <strip option>): the stripped file and its debug
  # file, linked by name and checksum (.gnu_debuglink).
  function(korvo_stage_elf target strip)
    set(_name $<TARGET_FILE_NAME:${target}>)
    set(_out "${KORVO_STAGE_DIR}/${_name}")
    add_custom_command(OUTPUT ${KORVO_STAGE_DIR}/${target}.staged
      COMMAND ${CMAKE_COMMAND} -E make_directory ${KORVO_STAGE_DIR}
      COMMAND ${KORVO_OBJCOPY} --only-keep-debug $<TARGET_FILE:${target}> ${_out}.debug
      # Run in the stage so the link names the debug file as it ships.
      COMMAND ${KORVO_OBJCOPY} ${strip} --add-gnu-debuglink=${_name}.debug $<TARGET_FILE:${target}> ${_name}
      COMMAND ${CMAKE_COMMAND} -E touch ${KORVO_STAGE_DIR}/${target}.staged
      WORKING_DIRECTORY ${KORVO_STAGE_DIR}
      DEPENDS ${target}
      COMMENT "Staging ${target} stripped, with its debug file"
      VERBATIM)
    set(_staged ${_staged} ${KORVO_STAGE_DIR}/${target}.staged PARENT_SCOPE)
  endfunction()
  korvo_stage_elf(${_plugin} --strip-unneeded)
  korvo_stage_elf(plugin-host --strip-all)
  add_custom_target(korvo_dist ALL DEPENDS ${_staged})
endif()

# Checks of the staged artefacts (ctest in the release build; make dist runs them).
if(WIN32)
  add_test(NAME dist_pdb_matches_dll
    COMMAND ${KORVO_DEBIAN_PYTHON} ${PROJECT_SOURCE_DIR}/scripts/check-pdb ${_dll} ${_pdb})
  add_test(NAME dist_version_resource
    COMMAND ${KORVO_DEBIAN_PYTHON} ${PROJECT_SOURCE_DIR}/scripts/check-version-resource ${_dll}
      --file-version ${KORVO_FILE_VERSION} --product-version ${KORVO_API_VERSION}
      --commit ${KORVO_SOURCE_COMMIT})
  # A host's crash in the stripped DLL, read back through the PDB.
  add_subdirectory(${PROJECT_SOURCE_DIR}/tests/dist ${CMAKE_BINARY_DIR}/tests/dist)
else()
  add_test(NAME dist_debuglink
    COMMAND ${KORVO_DEBIAN_PYTHON} ${PROJECT_SOURCE_DIR}/scripts/check-debuglink
      ${KORVO_STAGE_DIR}/$<TARGET_FILE_NAME:${_plugin}> ${KORVO_STAGE_DIR}/plugin-host)
endif()
