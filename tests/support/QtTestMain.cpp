#define TOVAK_TEST_QT
#include "support/TestMain.cpp"
