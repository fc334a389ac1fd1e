// A DLL that the DLL-planting test puts next to a program (or into its current folder) and tries to load by name.
extern "C" __declspec(dllexport) int plantedMarker() { return 42; }
