// Placeholder so the library has a source until the emulator lands.
namespace ulvarin::sim {
int placeholder = 0;
}
