# Run by cpack between staging the installation and building the package (CPACK_PRE_BUILD_SCRIPTS):
# Debian's zsh reads packaged completions from share/zsh/vendor-completions, not site-functions.
if(CPACK_GENERATOR STREQUAL "DEB")
  set(zsh ${CPACK_TEMPORARY_DIRECTORY}${CPACK_PACKAGING_INSTALL_PREFIX}/share/zsh)
  file(MAKE_DIRECTORY ${zsh}/vendor-completions)
  file(RENAME ${zsh}/site-functions/_orrinfold ${zsh}/vendor-completions/_orrinfold)
  file(REMOVE_RECURSE ${zsh}/site-functions)
endif()
