# The throwaway PostgreSQL server of the database tests: pg_start runs before the first test that needs it,
# pg_stop after the last. Each build folder has its own server, so two build folders never meet.
set(BSA_PG_DIR ${CMAKE_BINARY_DIR}/pg-server)
set(BSA_PG_FACTS ${CMAKE_BINARY_DIR}/pg-server.facts)

add_test(NAME pg_start COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/pg/pg_start.sh ${BSA_PG_DIR} ${BSA_PG_FACTS}
    ${PROJECT_SOURCE_DIR}/sql/postgresql/schema.sql)
set_tests_properties(pg_start PROPERTIES FIXTURES_SETUP bsa_pg TIMEOUT 180)
add_test(NAME pg_stop COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/pg/pg_stop.sh ${BSA_PG_DIR} ${BSA_PG_FACTS})
set_tests_properties(pg_stop PROPERTIES FIXTURES_CLEANUP bsa_pg TIMEOUT 180)

# bsa_requires_pg(TestX): TestX runs while the server is up and finds its facts through BSA_PG_FACTS.
# Call it in the folder that added the test.
function(bsa_requires_pg test)
    set_tests_properties(${test} PROPERTIES FIXTURES_REQUIRED bsa_pg)
    set_property(TEST ${test} APPEND PROPERTY ENVIRONMENT BSA_PG_FACTS=${BSA_PG_FACTS})
endfunction()
