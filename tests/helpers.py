"""Small helpers shared by the test files."""
import pytest


def raises_exactly(exc, message, call):
    """Runs call(); it must raise exactly `exc` (not a subclass) with exactly `message`."""
    with pytest.raises(BaseException) as info:
        call()
    assert type(info.value) is exc, info.value
    assert str(info.value) == message
    return info.value


class Index:
    """An integer-like argument whose __index__ may first run a hook (to re-enter the callee)."""

    def __init__(self, i, hook=None):
        self.i, self.hook = i, hook

    def __index__(self):
        if self.hook:
            self.hook()
        return self.i
