# Tests of the USB transport and of links over it, against the virtual USB
# bus in the same process (the program restarts itself inside umockdev's
# preload library).
file(GLOB QN_SDK_USB_TESTS CONFIGURE_DEPENDS ${CMAKE_CURRENT_LIST_DIR}/*_test.cpp)
qn_test(sdk_usb_tests ${QN_SDK_USB_TESTS} LIBS qn_core qn_sim_module qn_test_under_preload qn_test_support
        TIMEOUT 120)
