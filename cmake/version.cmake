# The one version of the programs and the package; read by the device build's
# host tools as well, which are a project of their own.
set(VX_VERSION 1.0)

# vx_set_version(<target>...): what the program prints for --version.
function(vx_set_version)
  foreach(target IN LISTS ARGN)
    target_compile_definitions(${target} PRIVATE VX_VERSION="${VX_VERSION}")
  endforeach()
endfunction()
