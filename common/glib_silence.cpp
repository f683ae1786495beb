#include "glib_silence.h"

#include <glib.h>

#include <mutex>

namespace halvic {
namespace {

GLogWriterOutput discardLog(GLogLevelFlags, const GLogField*, gsize, gpointer) { return G_LOG_WRITER_HANDLED; }
void discardLegacyLog(const gchar*, GLogLevelFlags, const gchar*, gpointer) {}
void discardPrint(const gchar*) {}

}  // namespace

void silenceGLib() {
  static std::once_flag once;
  std::call_once(once, [] {
    g_log_set_writer_func(discardLog, nullptr, nullptr);
    g_log_set_default_handler(discardLegacyLog, nullptr);
    g_set_print_handler(discardPrint);
    g_set_printerr_handler(discardPrint);
  });
}

}  // namespace halvic
