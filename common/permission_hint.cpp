#include "common/permission_hint.h"

#include <algorithm>
#include <cstdlib>
#include <vector>

#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace common {
namespace {

constexpr long kFallbackBufferSize = 16384;

long BufferSize(int name) {
  const long size = ::sysconf(name);
  return size > 0 ? size : kFallbackBufferSize;
}

std::string GroupName(gid_t gid) {
  std::vector<char> buffer(static_cast<std::size_t>(BufferSize(_SC_GETGR_R_SIZE_MAX)));
  struct group entry {};
  struct group* found = nullptr;
  if (::getgrgid_r(gid, &entry, buffer.data(), buffer.size(), &found) == 0 && found != nullptr) return found->gr_name;
  return std::to_string(gid);
}

struct User {
  std::string name;
  gid_t group = 0;
  bool known = false;
};

User CurrentUser() {
  std::vector<char> buffer(static_cast<std::size_t>(BufferSize(_SC_GETPW_R_SIZE_MAX)));
  struct passwd entry {};
  struct passwd* found = nullptr;
  if (::getpwuid_r(::geteuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found != nullptr) {
    return {found->pw_name, found->pw_gid, true};
  }
  const char* name = std::getenv("USER");
  return {name != nullptr && *name != '\0' ? name : "$USER", 0, false};
}

std::string UserName(uid_t uid) {
  std::vector<char> buffer(static_cast<std::size_t>(BufferSize(_SC_GETPW_R_SIZE_MAX)));
  struct passwd entry {};
  struct passwd* found = nullptr;
  if (::getpwuid_r(uid, &entry, buffer.data(), buffer.size(), &found) == 0 && found != nullptr) return found->pw_name;
  return std::to_string(uid);
}

// Whether the user database puts `user` in `gid` (what the next login gets).
bool MemberOf(const User& user, gid_t gid) {
  if (!user.known) return false;
  int count = 64;
  std::vector<gid_t> groups(static_cast<std::size_t>(count));
  if (::getgrouplist(user.name.c_str(), user.group, groups.data(), &count) < 0) {
    groups.resize(static_cast<std::size_t>(count));
    if (::getgrouplist(user.name.c_str(), user.group, groups.data(), &count) < 0) return false;
  }
  groups.resize(static_cast<std::size_t>(count));
  return std::find(groups.begin(), groups.end(), gid) != groups.end();
}

// Whether this process already has `gid` (what the current login got).
bool InSession(gid_t gid) {
  if (::getegid() == gid) return true;
  const int count = ::getgroups(0, nullptr);
  if (count <= 0) return false;
  std::vector<gid_t> groups(static_cast<std::size_t>(count));
  const int got = ::getgroups(count, groups.data());
  return got > 0 && std::find(groups.begin(), groups.begin() + got, gid) != groups.begin() + got;
}

}  // namespace

std::string PermissionHint(const std::string& devicePath, HintLanguage language) {
  const bool russian = language == HintLanguage::kRussian;
  struct stat st {};
  if (::stat(devicePath.c_str(), &st) != 0) {
    return russian ? "Нет прав на " + devicePath + ": обычно их даёт членство в группе dialout."
                   : "No permission for " + devicePath + ": usually membership of the group dialout gives it.";
  }
  const std::string group = GroupName(st.st_gid);
  const bool groupMayUse = st.st_gid != 0 && (st.st_mode & (S_IRGRP | S_IWGRP)) == (S_IRGRP | S_IWGRP);
  if (!groupMayUse) {
    const std::string owner = UserName(st.st_uid);
    return russian ? devicePath + " открыт только владельцу (" + owner +
                         "): правило udev должно открыть его группе, например dialout."
                   : devicePath + " is open to its owner (" + owner +
                         ") alone: a udev rule must give it to a group such as dialout.";
  }
  const User user = CurrentUser();
  if (MemberOf(user, st.st_gid)) {
    if (!InSession(st.st_gid)) {
      return russian ? "Вы в группе " + group + ", которой доступен " + devicePath +
                           ", но вход в систему был раньше: выйдите и войдите снова."
                     : "You are in the group " + group + " that may use " + devicePath +
                           ", but this login began before: log out and in again.";
    }
    return russian ? devicePath + " принадлежит группе " + group + ", в которой вы состоите: проверьте права (ls -l " +
                         devicePath + ")."
                   : devicePath + " belongs to the group " + group + ", which you are in: check its permissions (ls -l " +
                         devicePath + ").";
  }
  return russian ? devicePath + " принадлежит группе " + group + ": добавьте себя командой \"sudo usermod -aG " +
                       group + " " + user.name + "\" и войдите в систему снова."
                 : devicePath + " belongs to the group " + group + ": add yourself with \"sudo usermod -aG " + group +
                       " " + user.name + "\", then log in again.";
}

}  // namespace common
