# The recorded machines and SMBIOS tables the tests read, kept in the
# repository under tests/data: each machine an archive, each table a folder.
# They are laid out in the build folder as testdata/linux/<machine> and
# testdata/smbios/<table>; PS_TESTDATA_DIR names that folder and
# PS_RECORDED_MACHINES lists the machines. A missing set stops the configure:
# fewer recordings would silently mean fewer tests.
function(ps_unpack_test_data)
  set(source ${PROJECT_SOURCE_DIR}/tests/data)
  set(data ${CMAKE_BINARY_DIR}/testdata)
  # CONFIGURE_DEPENDS: an archive or table added or removed configures again.
  file(GLOB archives CONFIGURE_DEPENDS ${source}/machines/*.tar.xz)
  file(GLOB tables LIST_DIRECTORIES true CONFIGURE_DEPENDS ${source}/smbios/*)
  list(FILTER tables EXCLUDE REGEX "/README[^/]*$")
  if(NOT archives)
    message(FATAL_ERROR "No recorded machines in ${source}/machines (expected <name>.tar.xz archives); "
                        "the machine tests cannot run without them.")
  endif()
  if(NOT tables)
    message(FATAL_ERROR "No SMBIOS tables in ${source}/smbios (expected <name>/DMI); "
                        "the firmware tests cannot run without them.")
  endif()

  set(machines "")
  foreach(archive ${archives})
    get_filename_component(name ${archive} NAME)
    string(REGEX REPLACE "\\.tar\\.xz$" "" name ${name})
    list(APPEND machines ${name})
    set(root ${data}/linux/${name})
    # The archive's digest beside the unpacked tree: a changed archive is
    # unpacked afresh, over nothing left from before.
    file(SHA256 ${archive} digest)
    set(stamp ${data}/linux/.${name}.sha256)
    set(unpacked "")
    if(EXISTS ${stamp})
      file(READ ${stamp} unpacked)
    endif()
    if(NOT unpacked STREQUAL digest OR NOT IS_DIRECTORY ${root})
      file(REMOVE_RECURSE ${root} ${stamp})
      file(ARCHIVE_EXTRACT INPUT ${archive} DESTINATION ${data}/linux)
      if(NOT IS_DIRECTORY ${root}/proc)
        message(FATAL_ERROR "${archive} does not hold ${name}/proc: a recorded machine's archive "
                            "holds one folder named as the archive.")
      endif()
      file(WRITE ${stamp} ${digest})
    endif()
    set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${archive})
  endforeach()

  set(names "")
  foreach(table ${tables})
    get_filename_component(name ${table} NAME)
    list(APPEND names ${name})
    if(NOT EXISTS ${table}/DMI)
      message(FATAL_ERROR "${table} has no DMI file: each SMBIOS table folder holds the table as DMI.")
    endif()
    # Copied afresh (they are small), so a file removed from a table goes too.
    file(REMOVE_RECURSE ${data}/smbios/${name})
    file(COPY ${table} DESTINATION ${data}/smbios)
    file(GLOB files ${table}/*)
    set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${files})
  endforeach()

  # What a removed recording left in the build folder goes too.
  foreach(kind linux smbios)
    set(kept ${names})
    if(kind STREQUAL "linux")
      set(kept ${machines})
    endif()
    file(GLOB old LIST_DIRECTORIES true ${data}/${kind}/* ${data}/${kind}/.*)
    foreach(path ${old})
      get_filename_component(name ${path} NAME)
      string(REGEX REPLACE "^\\.(.*)\\.sha256$" "\\1" name ${name})
      if(NOT name IN_LIST kept AND NOT name MATCHES "^\\.\\.?$")
        file(REMOVE_RECURSE ${path})
      endif()
    endforeach()
  endforeach()

  set(PS_TESTDATA_DIR ${data} PARENT_SCOPE)
  set(PS_RECORDED_MACHINES ${machines} PARENT_SCOPE)
endfunction()
