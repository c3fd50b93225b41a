# The project's version in a Windows program's version resource (its Explorer properties).
function(pyrelink_add_version_resource target description)
  set(PYRELINK_RC_NAME ${target})
  set(PYRELINK_RC_DESCRIPTION "${description}")
  set(rc ${PROJECT_BINARY_DIR}/generated/${target}_version.rc)
  configure_file(${PROJECT_SOURCE_DIR}/cmake/version.rc.in ${rc} @ONLY)
  target_sources(${target} PRIVATE ${rc})
endfunction()
