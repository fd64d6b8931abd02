"""Objects that misbehave when orvath converts them: conversion methods that
raise, lie or run code against the very object being called, comparisons and
truth values that fail, and sequences whose length and iteration cannot be
trusted."""


class Hostile(Exception):
    """Raised by the conversion methods below; orvath must pass it through."""


# ---------------------------------------------------------------------------
# Numbers and conversions

class FloatSub(float):
    pass


class IntSub(int):
    pass


class StrSub(str):
    pass


class Floaty:
    """Converts through __float__ only, to `value` (returned as it is, so a
    value of the wrong type makes the interpreter's own error)."""

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
    """__float__ and __index__ raise `error` (with `cause` as its __cause__
    when given), or a fresh Hostile naming the method."""

    def __init__(self, error=None, cause=None):
        self.error = error
        self.cause = cause

    def _raise(self, method):
        error = Hostile(method) if self.error is None else self.error
        if self.cause is not None:
            raise error from self.cause
        raise error

    def __float__(self):
        self._raise("__float__")

    def __index__(self):
        self._raise("__index__")


class ConvertsToWrongType:
    def __float__(self):
        return "1.0"

    def __index__(self):
        return 1.5


class FailsThenReflects:
    """An operand whose __float__ raises `error` (counted in `tried`) and whose
    reflected arithmetic answers with its own name: the NotImplemented rule
    must discard the error and hand the operation over to it."""

    def __init__(self, error):
        self.error = error
        self.tried = 0

    def __float__(self):
        self.tried += 1
        raise self.error

    def __radd__(self, lhs):
        return "radd"

    def __rmul__(self, lhs):
        return "rmul"

    def __rtruediv__(self, lhs):
        return "rtruediv"


class Reenter:
    """Runs `action` from inside a conversion, then converts to `value`.

    `done` tells whether the action went through. An action refused with a
    borrow conflict (RuntimeError) is recorded in `refused`; the error then
    propagates into the call that was converting this object, as any error of
    __float__ or __index__ does, unless `swallow` is set, in which case the
    conversion goes on to return `value`."""

    def __init__(self, action, value=0, label="reenter", victim=None, swallow=False):
        self.action = action
        self.value = value
        self.label = label
        self.victim = victim
        self.swallow = swallow
        self.done = False
        self.refused = []

    def _run(self):
        try:
            self.action()
        except RuntimeError as e:
            self.refused.append(e)
            if not self.swallow:
                raise
        else:
            self.done = True

    def __float__(self):
        self._run()
        return float(self.value)

    def __index__(self):
        self._run()
        return int(self.value)

    def __repr__(self):
        return f"Reenter({self.label})"


# ---------------------------------------------------------------------------
# Comparisons and truth

class EqRaises:
    """Answers the reflected == of a foreign comparison with `error` (a
    Hostile by default)."""

    def __init__(self, error=None):
        self.error = error

    def __eq__(self, other):
        raise Hostile("__eq__") if self.error is None else self.error

    __hash__ = None


class TruthRaises:
    def __init__(self, error=None):
        self.error = error

    def __bool__(self):
        raise Hostile("__bool__") if self.error is None else self.error


class EqAnswers:
    """Answers == with `answer`, whatever it is (an object whose truth fails,
    say), and != with a marker that no bool can be mistaken for: a class whose
    != is derived from == must never return it."""

    NE = "EqAnswers.__ne__"

    def __init__(self, answer):
        self.answer = answer

    def __eq__(self, other):
        return self.answer

    def __ne__(self, other):
        return self.NE

    __hash__ = None


def raising_truth(self):
    """A truth slot for fake_numpy_bool."""
    raise Hostile("__bool__")


def fake_numpy_bool(name="bool_", truth=None, module="numpy"):
    """A class that the bool rule takes for a numpy bool when named bool_ (or
    bool) in module "numpy". Without `truth` it has no truth slot at all."""
    ns = {"__module__": module}
    if truth is not None:
        ns["__bool__"] = truth
    return type(name, (), ns)()


# ---------------------------------------------------------------------------
# Sequences

class SeqByIndex:
    """A sequence reached only through __len__ and __getitem__ (iteration
    takes the interpreter's index loop), over `items`, whose length can be made
    to lie or fail."""

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


class Seq(SeqByIndex):
    """The same with an iterator of its own."""

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
