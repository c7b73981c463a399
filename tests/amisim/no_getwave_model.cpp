// A library that exports AMI_Init but lacks AMI_GetWave and AMI_Close.
#include <cstdint>

extern "C" __attribute__((visibility("default"))) std::int32_t AMI_Init(double*, std::int32_t,
                                                                        std::int32_t, double,
                                                                        double, char*, char**,
                                                                        void**, char**) {
    return 0;
}
