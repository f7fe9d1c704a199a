# The Homebrew formula, driven off a Mac: a stand-in for the part of
# Homebrew's Formula class that it uses runs its install block as Homebrew does
# (the same CMake arguments, with no googletest to be found), then its test
# block against the installed tool on the simulated trackpad.
#
#   ruby formula_test.rb FORMULA REDIRECT-LIBRARY
require "fileutils"
require "minitest/autorun"
require "open3"
require "pathname"
require "tmpdir"

FORMULA, REDIRECT = ARGV.shift(2) # minitest reads the rest
abort "usage: ruby formula_test.rb FORMULA REDIRECT-LIBRARY" unless REDIRECT && File.file?(REDIRECT)
SOURCE = File.expand_path("..", File.dirname(FORMULA))

class Formula
  include Minitest::Assertions
  attr_accessor :assertions
  attr_reader :prefix, :said

  class << self
    attr_reader :facts, :test_block

    def inherited(formula)
      super
      formula.instance_variable_set(:@facts, { depends_on: [] })
    end

    %i[desc homepage license].each { |name| define_method(name) { |value| facts[name] = value } }

    def head(url, branch:)
      facts[:head] = [url, branch]
    end

    def depends_on(dependency)
      facts[:depends_on] << dependency
    end

    def test(&block)
      @test_block = block
    end
  end

  def initialize(prefix, log)
    @prefix = Pathname(prefix)
    @log = log
    @assertions = 0
  end

  # Homebrew's heading in the log; kept to see what the test block says.
  def ohai(title)
    (@said ||= []) << title
  end

  def bin
    prefix / "bin"
  end

  # Homebrew's arguments, less the file it includes to stop downloads at
  # configure time; a Mac without googletest or benchmark stands behind the
  # last two: any search for them fails.
  def std_cmake_args
    %W[-DCMAKE_INSTALL_PREFIX=#{prefix} -DCMAKE_INSTALL_LIBDIR=lib -DCMAKE_BUILD_TYPE=Release
       -DCMAKE_FIND_FRAMEWORK=LAST -DCMAKE_VERBOSE_MAKEFILE=ON -Wno-dev -DBUILD_TESTING=OFF
       -DCMAKE_DISABLE_FIND_PACKAGE_GTest=ON -DCMAKE_DISABLE_FIND_PACKAGE_benchmark=ON]
  end

  def system(*command)
    return if Kernel.system(*command.map(&:to_s), out: [@log, "a"], err: [:child, :out])

    raise "#{command.join(" ")} failed: #{File.read(@log)}"
  end

  def run_test(environment)
    saved = ENV.to_h
    ENV.update(environment)
    instance_exec(&self.class.test_block)
  ensure
    ENV.replace(saved)
  end
end

load FORMULA

class FormulaTest < Minitest::Test
  # The one install, in a copy of the sources as Homebrew stages them; it is
  # the slow part, so every test shares it.
  def self.installed
    @installed ||= begin
      scratch = Dir.mktmpdir("thrum-formula")
      Minitest.after_run { FileUtils.rm_rf(scratch) }
      files = IO.popen(%w[git ls-files -z --cached --others --exclude-standard], chdir: SOURCE, &:read).split("\0")
      files.each do |file|
        next unless File.file?(File.join(SOURCE, file))

        FileUtils.mkdir_p(File.join(scratch, "src", File.dirname(file)))
        FileUtils.cp(File.join(SOURCE, file), File.join(scratch, "src", file), preserve: true)
      end
      formula = Thrum.new(File.join(scratch, "prefix"), File.join(scratch, "build.log"))
      ENV["MAKEFLAGS"] ||= "-j2" # as Homebrew sets it
      Dir.chdir(File.join(scratch, "src")) { formula.install }
      [formula, File.read(File.join(scratch, "build.log"))]
    end
  end

  def formula = self.class.installed[0]
  def log = self.class.installed[1]

  def test_installs_the_tool_its_manual_and_nothing_public_in_lib
    files = Dir.glob("**/*", base: formula.prefix.to_s).reject { |f| File.directory?(formula.prefix / f) }
    assert_equal %w[bin/thrum lib/thrum/libCoreFoundation.so share/man/man1/thrum.1], files.sort
    # Warnings are on, but are no errors for a packager; nothing looked for
    # googletest, so CMake reports the switch that forbids it as unused.
    assert log.include?(" -Wall "), "the build passed no -Wall"
    refute log.include?("-Werror"), "the build passed -Werror"
    assert_match(/not used by the project:\n\n(\s+\S+\n)*\s+CMAKE_DISABLE_FIND_PACKAGE_GTest\n/, log[/Manually-specified.*?\n\n.*?\n\n/m].to_s)
    # Started from elsewhere with nothing but the prefix, the tool finds its
    # stand-in and, with no framework here, names the first function.
    out, err, status = Open3.capture3({}, "#{formula.bin}/thrum", "--check", chdir: "/", unsetenv_others: true)
    assert_equal ["", "no MTDeviceCreateList\n", 1], [out, err, status.exitstatus]
  end

  def test_the_test_block_passes_a_mac_with_or_without_a_trackpad_and_says_which
    formula.run_test("LD_PRELOAD" => REDIRECT)
    formula.run_test("LD_PRELOAD" => REDIRECT, "MTSIM_DEVICES" => "noopen")
    assert_equal ["thrum --check: status 0, nothing on standard error",
                  'thrum --check: status 1, "no trackpad with a haptic motor"'], formula.said.last(2)
  end

  def test_the_test_block_fails_a_tool_that_cannot_reach_the_framework
    assert_raises(Minitest::Assertion) { formula.run_test({}) }
  end

  def test_the_licence_is_the_one_in_the_repository
    assert_equal "#{Thrum.facts[:license]} License", File.foreach(File.join(SOURCE, "LICENSE")).first.chomp
  end
end
