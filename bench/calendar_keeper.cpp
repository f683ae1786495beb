// Holds every enabled calendar open, as a desktop's calendar server does, so
// EDS keeps its backends loaded between helper runs. Runs until killed.
#include <libecal/libecal.h>
#include <unistd.h>

int main() {
  ESourceRegistry* registry = e_source_registry_new_sync(nullptr, nullptr);
  if (registry == nullptr) return 1;
  GList* sources = e_source_registry_list_enabled(registry, E_SOURCE_EXTENSION_CALENDAR);
  for (GList* item = sources; item != nullptr; item = item->next) {
    // Deliberately kept: the open client is the point of this program.
    e_cal_client_connect_sync(E_SOURCE(item->data), E_CAL_CLIENT_SOURCE_TYPE_EVENTS, static_cast<guint32>(-1),
                              nullptr, nullptr);
  }
  g_main_loop_run(g_main_loop_new(nullptr, FALSE));
  return 0;
}
