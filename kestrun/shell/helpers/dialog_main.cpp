// kestrun-dialog: shows one GTK file or folder chooser for the library and writes the chosen
// paths to standard output, each followed by a NUL. The command line and exit statuses are those
// of dialog_protocol.h. Behaves as the platform dialogs the library's callers expect: filter
// patterns ignore case, the save dialog does not ask before overwriting, the open dialog accepts
// only existing files, and the owner window gets a modal, transient dialog.
#include "kestrun/shell/dialog_protocol.h"

#include <gdk/gdkx.h>
#include <gtk/gtk.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fnmatch.h>
#include <memory>
#include <string>
#include <string_view>
#include <unistd.h>
#include <vector>

namespace {

namespace protocol = kestrun::shell::dialog_protocol;

struct WidgetDestroy {
    void operator()(GtkWidget *widget) const { gtk_widget_destroy(widget); }
};
using Widget = std::unique_ptr<GtkWidget, WidgetDestroy>;

struct ListFree {
    void operator()(GSList *list) const { g_slist_free_full(list, g_free); }
};
using FileList = std::unique_ptr<GSList, ListFree>;

struct TextFree {
    void operator()(char *text) const { g_free(text); }
};
using Text = std::unique_ptr<char, TextFree>;

// The ";"-separated patterns of one filter. "*.*" matches every name, as on the platforms
// whose dialogs this stands in for.
std::vector<std::string> SplitPatterns(std::string_view patterns) {
    std::vector<std::string> out;
    size_t start = 0;
    while (start <= patterns.size()) {
        size_t end = patterns.find(';', start);
        if (end == std::string_view::npos) {
            end = patterns.size();
        }
        std::string_view one = patterns.substr(start, end - start);
        while (!one.empty() && one.front() == ' ') {
            one.remove_prefix(1);
        }
        while (!one.empty() && one.back() == ' ') {
            one.remove_suffix(1);
        }
        if (!one.empty()) {
            out.emplace_back(one == "*.*" ? "*" : std::string(one));
        }
        start = end + 1;
    }
    return out;
}

gboolean MatchesAnyPattern(const GtkFileFilterInfo *info, gpointer data) {
    const auto *patterns = static_cast<const std::vector<std::string> *>(data);
    const char *name = info->display_name;
    if (name == nullptr) {
        return FALSE;
    }
    for (const auto &pattern : *patterns) {
        if (fnmatch(pattern.c_str(), name, FNM_CASEFOLD) == 0) {
            return TRUE;
        }
    }
    return FALSE;
}

bool WriteAll(std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t written = ::write(1, bytes.data(), bytes.size());
        if (written <= 0) {
            return false;
        }
        bytes.remove_prefix(size_t(written));
    }
    return true;
}

bool IsExistingFile(const char *path) {
    return g_file_test(path, G_FILE_TEST_EXISTS) && !g_file_test(path, G_FILE_TEST_IS_DIR);
}

// Places the dialog above its owner and marks it modal for it.
void AttachToOwner(GtkWidget *dialog, unsigned long owner) {
    gtk_window_set_modal(GTK_WINDOW(dialog), TRUE);
    gtk_widget_realize(dialog);
    if (owner == 0) {
        return;
    }
    GdkDisplay *display = gtk_widget_get_display(dialog);
    gdk_x11_display_error_trap_push(display);
    GdkWindow *foreign = gdk_x11_window_foreign_new_for_display(display, owner);
    if (foreign != nullptr) {
        gdk_window_set_transient_for(gtk_widget_get_window(dialog), foreign);
        g_object_unref(foreign);
    }
    gdk_x11_display_error_trap_pop_ignored(display);
}

} // namespace

int main(int argc, char **argv) {
    // Nothing of the caller's but the three standard descriptors is kept.
    ::close_range(3, ~0U, 0);
    if (argc < 1 + protocol::kFixedArguments || (argc - 1 - protocol::kFixedArguments) % 2 != 0) {
        return protocol::kUsage;
    }
    const std::string_view kind = argv[1];
    const unsigned long owner = std::strtoul(argv[2], nullptr, 10);
    const char *folder = argv[3];
    const char *title = argv[4];

    GtkFileChooserAction action = GTK_FILE_CHOOSER_ACTION_OPEN;
    const char *windowTitle = "Open";
    const char *acceptLabel = "_Open";
    if (kind == protocol::kSave) {
        action = GTK_FILE_CHOOSER_ACTION_SAVE;
        windowTitle = "Save As";
        acceptLabel = "_Save";
    } else if (kind == protocol::kFolder) {
        action = GTK_FILE_CHOOSER_ACTION_SELECT_FOLDER;
        windowTitle = "Browse For Folder";
        acceptLabel = "_OK";
    } else if (kind != protocol::kOpen && kind != protocol::kOpenMultiple) {
        return protocol::kUsage;
    }

    // The owner is an X11 window id, so the dialog must be an X11 client too.
    gdk_set_allowed_backends("x11");
    if (!gtk_init_check(nullptr, nullptr)) {
        return protocol::kNoDisplay;
    }

    Widget dialog(gtk_file_chooser_dialog_new(windowTitle, nullptr, action, "_Cancel",
                                              GTK_RESPONSE_CANCEL, acceptLabel, GTK_RESPONSE_ACCEPT,
                                              nullptr));
    GtkFileChooser *chooser = GTK_FILE_CHOOSER(dialog.get());
    gtk_dialog_set_default_response(GTK_DIALOG(dialog.get()), GTK_RESPONSE_ACCEPT);
    gtk_file_chooser_set_local_only(chooser, TRUE);
    gtk_file_chooser_set_do_overwrite_confirmation(chooser, FALSE);
    gtk_file_chooser_set_select_multiple(chooser, kind == protocol::kOpenMultiple);
    if (*folder != '\0') {
        gtk_file_chooser_set_current_folder(chooser, folder);
    }

    // Pattern lists live until the end of main, beyond the dialog that reads them.
    std::vector<std::vector<std::string>> patternLists;
    patternLists.reserve(size_t(argc));
    for (int i = 1 + protocol::kFixedArguments; i + 1 < argc; i += 2) {
        patternLists.push_back(SplitPatterns(argv[i + 1]));
        GtkFileFilter *filter = gtk_file_filter_new();
        gtk_file_filter_set_name(filter, argv[i]);
        gtk_file_filter_add_custom(filter, GTK_FILE_FILTER_DISPLAY_NAME, MatchesAnyPattern,
                                   &patternLists.back(), nullptr);
        gtk_file_chooser_add_filter(chooser, filter); // the chooser takes the reference
        if (i == 1 + protocol::kFixedArguments) {
            gtk_file_chooser_set_filter(chooser, filter);
        }
    }

    if (kind == protocol::kFolder && *title != '\0') {
        GtkWidget *content = gtk_dialog_get_content_area(GTK_DIALOG(dialog.get()));
        GtkWidget *label = gtk_label_new(title);
        gtk_label_set_xalign(GTK_LABEL(label), 0.0f);
        gtk_label_set_line_wrap(GTK_LABEL(label), TRUE);
        gtk_widget_set_margin_start(label, 6);
        gtk_widget_set_margin_top(label, 6);
        gtk_box_pack_start(GTK_BOX(content), label, FALSE, FALSE, 0);
        gtk_box_reorder_child(GTK_BOX(content), label, 0);
        gtk_widget_show(label);
    }
    AttachToOwner(dialog.get(), owner);

    std::string answer;
    while (gtk_dialog_run(GTK_DIALOG(dialog.get())) == GTK_RESPONSE_ACCEPT) {
        answer.clear();
        if (kind == protocol::kOpen || kind == protocol::kOpenMultiple) {
            FileList files(gtk_file_chooser_get_filenames(chooser));
            bool allExist = files != nullptr;
            for (GSList *item = files.get(); item != nullptr; item = item->next) {
                const char *path = static_cast<const char *>(item->data);
                allExist = allExist && IsExistingFile(path);
                answer.append(path).push_back('\0');
            }
            if (!allExist) {
                continue; // an open dialog accepts only files that exist
            }
        } else {
            Text path(gtk_file_chooser_get_filename(chooser));
            if (!path) {
                continue;
            }
            answer.append(path.get()).push_back('\0');
        }
        dialog.reset();
        while (gtk_events_pending()) {
            gtk_main_iteration();
        }
        return WriteAll(answer) ? protocol::kChosen : protocol::kCancelled;
    }
    return protocol::kCancelled;
}
