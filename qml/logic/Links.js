.pragma library
// Every outside address the scene opens, kept in one place so packagers and
// resellers can change them without touching the screens.

// The GPU vendor's graphics driver page for Linux.
var intelDriverPage = "https://dgpu-docs.intel.com/driver/client/overview.html";

// The maker's support pages.
var makerFaqPage = "https://www.tarvell.com/support/faq";
var makerContactPage = "https://www.tarvell.com/support/contact";
