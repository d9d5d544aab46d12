#pragma once

#include <memory>
#include <string>
#include <vector>

// A network namespace of one test's own whose loopback (MTU 1500) behaves
// as a slow link: every packet over it, either way, passes a token bucket
// of the given rate. Servers and programs run in it under Prefix(); its
// 127.0.0.1 is the namespace's own. The namespace goes with the object.
class ShapedLoopback {
 public:
  // sRate as tc takes it ("32kbit"). Null when this machine allows no such
  // namespace; sWhy then says why.
  static std::unique_ptr<ShapedLoopback> Make(const std::string& sRate, std::string& sWhy);
  ~ShapedLoopback();
  ShapedLoopback(const ShapedLoopback&) = delete;
  ShapedLoopback& operator=(const ShapedLoopback&) = delete;

  // The command that runs a program in the namespace, absolute as
  // ServerProcess wants it.
  std::vector<std::string> Prefix() const;

 private:
  explicit ShapedLoopback(std::string sName) : m_sName(std::move(sName)) {}

  std::string m_sName;
};
