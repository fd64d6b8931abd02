"""What the test files share: the members table that the hardening tests walk
(members), the table of every call and error path (calls), objects that
misbehave when orvath converts or compares them (oddities), small checks and
builders (helpers), and the pytest plugin for the instrumented builds
(instrumented). The independent models of the formulas live in tests/models."""
