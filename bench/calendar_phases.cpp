// Where a helper run's time goes: the same libecal calls the Linux store
// makes, each phase timed on its own. Prints one line per phase in ms.
//
//   calendar_phases START_EPOCH END_EPOCH
#include <libecal/libecal.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

using Clock = std::chrono::steady_clock;

double msSince(Clock::time_point t) { return std::chrono::duration<double, std::milli>(Clock::now() - t).count(); }

gboolean countInstance(ICalComponent*, ICalTime*, ICalTime*, gpointer data, GCancellable*, GError**) {
  ++*static_cast<int*>(data);
  return TRUE;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) return 2;
  const time_t start = std::strtoll(argv[1], nullptr, 10);
  const time_t end = std::strtoll(argv[2], nullptr, 10);
  const auto begin = Clock::now();

  auto t = Clock::now();
  ESourceRegistry* registry = e_source_registry_new_sync(nullptr, nullptr);
  if (registry == nullptr) return 1;
  std::printf("registry open            %8.2f ms\n", msSince(t));

  t = Clock::now();
  GList* sources = e_source_registry_list_enabled(registry, E_SOURCE_EXTENSION_CALENDAR);
  std::printf("list calendars           %8.2f ms (%u)\n", msSince(t), g_list_length(sources));

  double connect = 0;
  double generate = 0;
  int instances = 0;
  for (GList* item = sources; item != nullptr; item = item->next) {
    t = Clock::now();
    EClient* client = e_cal_client_connect_sync(E_SOURCE(item->data), E_CAL_CLIENT_SOURCE_TYPE_EVENTS,
                                                static_cast<guint32>(-1), nullptr, nullptr);
    const double connected = msSince(t);
    connect += connected;
    if (client == nullptr) continue;
    t = Clock::now();
    const int before = instances;
    e_cal_client_generate_instances_sync(E_CAL_CLIENT(client), start, end, nullptr, countInstance, &instances);
    const double generated = msSince(t);
    generate += generated;
    std::printf("  %-22s connect %6.2f ms, generate %6.2f ms (%d)\n", e_source_get_display_name(E_SOURCE(item->data)),
                connected, generated, instances - before);
    g_object_unref(client);
  }
  std::printf("connect (all calendars)  %8.2f ms\n", connect);
  std::printf("generate instances       %8.2f ms (%d)\n", generate, instances);
  g_list_free_full(sources, g_object_unref);
  g_object_unref(registry);
  std::printf("total                    %8.2f ms\n", msSince(begin));
  return 0;
}
