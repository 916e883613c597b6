file(GLOB QN_SDK_LINK_TESTS CONFIGURE_DEPENDS ${CMAKE_CURRENT_LIST_DIR}/*_test.cpp)
qn_test(sdk_link_tests ${QN_SDK_LINK_TESTS} LIBS qn_net qn_sim_module qn_test_support TIMEOUT 120)
