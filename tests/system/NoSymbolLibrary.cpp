// A library that loads but has no lock function.
extern "C" __attribute__((visibility("default"))) int tovakSomethingElse() {
    return 1;
}
