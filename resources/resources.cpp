// The resources are compiled in by qt_add_resources; this library only carries them.
namespace keyloft {}
