// The fake form of the service module's tests, built into this module's
// test program too: the delivery sessions are driven through it.
#include "service/tests/fake_form_support.cpp"
