# The `docs` target: HTML from the two public headers with README.md as the
# main page, into <build>/docs/html. Included only when Doxygen is found; a
# warning (an undocumented export among them) fails the target.
set(QDPARSE_DOCS_DIR ${PROJECT_BINARY_DIR}/docs)
configure_file(${PROJECT_SOURCE_DIR}/docs/Doxyfile.in ${QDPARSE_DOCS_DIR}/Doxyfile @ONLY)
add_custom_target(docs
  COMMAND ${CMAKE_COMMAND} -E remove_directory ${QDPARSE_DOCS_DIR}/html
  COMMAND Doxygen::doxygen ${QDPARSE_DOCS_DIR}/Doxyfile
  WORKING_DIRECTORY ${QDPARSE_DOCS_DIR}
  COMMENT "API documentation in ${QDPARSE_DOCS_DIR}/html"
  VERBATIM)
