// kvsample: builds a board from the readable sources in sample/ (see
// sample/tools/sample_main.cpp).
#include "sample/tools/builders.h"

int main(int argc, char** argv) { return kv::sample::SampleMain(argc, argv); }
