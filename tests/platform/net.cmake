bsa_add_test(platform/TestBSAServer bsa_net)
bsa_add_test(platform/TestBSAClient bsa_net)
