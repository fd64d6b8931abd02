"""Objects that misbehave when orvath converts them: conversion methods that
raise, lie or run code against the very object being called, and sequences
whose length and iteration cannot be trusted."""


class Hostile(Exception):
    """Raised by the conversion methods below; orvath must pass it through."""


class FloatSub(float):
    pass


class IntSub(int):
    pass


class Floaty:
    """Converts through __float__ only."""

    def __init__(self, value):
        self.value = value

    def __float__(self):
        return self.value


class Indexy:
    """Converts through __index__ only (the float rule accepts that too)."""

    def __init__(self, value):
        self.value = value

    def __index__(self):
        return self.value


class RaisesOnConvert:
    def __float__(self):
        raise Hostile("__float__")

    def __index__(self):
        raise Hostile("__index__")


class ConvertsToWrongType:
    def __float__(self):
        return "1.0"

    def __index__(self):
        return 1.5


class Reenter:
    """Runs `action` from inside a conversion, then converts to `value`.

    `done` tells whether the action went through; an action refused with an
    exception (a borrow conflict) propagates that exception into the call that
    was converting this object, as any error of __float__ or __index__ does."""

    def __init__(self, action, value=0, label="reenter", victim=None):
        self.action = action
        self.value = value
        self.label = label
        self.victim = victim
        self.done = False

    def _run(self):
        self.action()
        self.done = True

    def __float__(self):
        self._run()
        return float(self.value)

    def __index__(self):
        self._run()
        return int(self.value)

    def __repr__(self):
        return f"Reenter({self.label})"


class EqRaises:
    """Answers the reflected == of a foreign comparison with an error."""

    def __eq__(self, other):
        raise Hostile("__eq__")

    __hash__ = None


class TruthRaises:
    def __bool__(self):
        raise Hostile("__bool__")


class EqReturnsBadTruth:
    """A reflected == whose result cannot be made a bool (for the != rule)."""

    def __eq__(self, other):
        return TruthRaises()

    __hash__ = None


class Seq:
    """A sequence over `items` whose length can be made to lie or fail."""

    def __init__(self, items, length=None, len_error=None):
        self.items = list(items)
        self.length = len(self.items) if length is None else length
        self.len_error = len_error

    def __len__(self):
        if self.len_error is not None:
            raise self.len_error
        return self.length

    def __getitem__(self, i):
        return self.items[i]

    def __iter__(self):
        return iter(self.items)


class SeqIterRaises(Seq):
    """Yields `good` items, then raises `error` from its iterator."""

    def __init__(self, items, good, error):
        super().__init__(items)
        self.good = good
        self.error = error

    def __iter__(self):
        def gen():
            yield from self.items[:self.good]
            raise self.error
        return gen()


class SeqIterNotIterator(Seq):
    def __iter__(self):
        return 42


class SeqIterAction(Seq):
    """Runs `action` between the items it yields."""

    def __init__(self, items, action):
        super().__init__(items)
        self.action = action

    def __iter__(self):
        for item in self.items:
            self.action()
            yield item


def fake_numpy_bool(name="bool_", truth=None):
    """A class that the bool rule takes for a numpy bool: named bool_ (or
    bool), module "numpy". Without `truth` it has no truth slot at all."""
    ns = {"__module__": "numpy"}
    if truth is not None:
        ns["__bool__"] = truth
    return type(name, (), ns)()
