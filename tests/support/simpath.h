#pragma once
// Where tests and benchmarks find tarviks-sim: the path of the simulator built beside them,
// compiled in by ormelin_use_simulator() (cmake/OrmelinTesting.cmake).

#ifdef ORMELIN_SIM_PATH
inline const char *simulatorPath()
{
    return ORMELIN_SIM_PATH;
}
#endif
