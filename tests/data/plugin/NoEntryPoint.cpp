extern "C" __attribute__((visibility("default"))) int ostrel_not_a_library() { return 0; }
