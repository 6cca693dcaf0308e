# The known card's four PCI ids as CMake variables, read from the header that
# names the card for the program, so the udev rule can never drift from what
# the program matches. Sets TARVELL_CARD_PCI_VENDOR, _DEVICE, _SUBSYSTEM_VENDOR
# and _SUBSYSTEM as sysfs prints them ("0x8086"), and each as the four upper-
# case digits of a modalias (..._DIGITS, "8086").
set(tv_card_header ${CMAKE_CURRENT_SOURCE_DIR}/platform/known_card.h)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${tv_card_header})
file(READ ${tv_card_header} tv_card_text)
foreach(pair VENDOR:kPciVendorId DEVICE:kPciDeviceId
             SUBSYSTEM_VENDOR:kPciSubsystemVendorId SUBSYSTEM:kPciSubsystemId)
  string(REPLACE ":" ";" pair ${pair})
  list(GET pair 0 var)
  list(GET pair 1 constant)
  if(NOT tv_card_text MATCHES "${constant} = 0[xX]([0-9A-Fa-f]+)")
    message(FATAL_ERROR "${tv_card_header} does not define ${constant} as a hexadecimal id")
  endif()
  string(TOLOWER "0x${CMAKE_MATCH_1}" value)
  set(TARVELL_CARD_PCI_${var} ${value})
  string(TOUPPER "${CMAKE_MATCH_1}" digits)
  string(LENGTH "${digits}" length)
  if(NOT length EQUAL 4)
    message(FATAL_ERROR "${constant} in ${tv_card_header} is not a 16-bit id")
  endif()
  set(TARVELL_CARD_PCI_${var}_DIGITS ${digits})
endforeach()
