// A shared object without mexFunction, to test the loader's rejection.
extern "C" int notAMexFunction(void) { return 0; }
