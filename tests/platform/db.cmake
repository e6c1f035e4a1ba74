bsa_add_test(platform/TestDatabase bsa_db Qt6::Sql)
bsa_requires_pg(TestDatabase)
bsa_add_test(platform/TestDatabaseConnectionString bsa_db)
